#include "app/HeadlessView.h"

namespace tidewell {
namespace {

template <typename Map, typename Value>
Value Lookup(const Map& map, Element element, Value fallback) {
    const auto it = map.find(element);
    return it == map.end() ? fallback : it->second;
}

}  // namespace

std::string HeadlessView::Text(Element element) const {
    return Lookup(texts_, element, std::string());
}

void HeadlessView::SetText(Element element, const std::string& text) {
    texts_[element] = text;
    if (OnTextChanged) OnTextChanged(element, text);
}

bool HeadlessView::Enabled(Element element) const {
    return Lookup(enabled_, element, true);
}

// As designed: the progress panel starts hidden, everything else visible.
bool HeadlessView::Visible(Element element) const {
    return Lookup(visible_, element, element != Element::panelProgress);
}

bool HeadlessView::Checked(Element element) const {
    return Lookup(checked_, element, false);
}

int HeadlessView::Position(Element element) const {
    return Lookup(positions_, element, 0);
}

HeadlessView::LabelLook HeadlessView::Look(Element element) const {
    return Lookup(looks_, element, LabelLook{});
}

bool HeadlessView::BrowseForFolder(const std::string& title, std::string& folder,
                                   bool showNewFolder, const TFolderRenameHooks& renames) {
    RenameHooks = renames;
    const bool picked = OnBrowseForFolder && OnBrowseForFolder(title, folder, showNewFolder);
    RenameHooks = {};
    return picked;
}

std::optional<int> HeadlessView::ChooseSafetyArchive(const std::string& companyName,
                                                     const TSafetyArchiveList& list,
                                                     const TSafetyArchiveRemoval& remove) {
    if (!OnChooseSafetyArchives) {
        return OnChooseSafetyArchive ? OnChooseSafetyArchive(companyName, list.Archives, list.Note)
                                     : std::nullopt;
    }
    TSafetyArchiveList shown = list;
    for (;;) {
        const auto choice = OnChooseSafetyArchives(companyName, shown.Archives, shown.Note);
        if (!choice || choice->Indices.empty()) return std::nullopt;
        if (choice->Action == TSafetyArchiveChoice::Restore) {
            if (choice->Indices.size() != 1) return std::nullopt;
            return choice->Indices.front();
        }
        if (auto left = remove(choice->Indices)) {
            if (left->Archives.empty()) return std::nullopt;
            shown = std::move(*left);
        }
    }
}

}  // namespace tidewell
