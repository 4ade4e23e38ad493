#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/MainView.h"

namespace tidewell {

// A main window without a toolkit: it keeps what the logic sets and answers from what its
// owner sets (the pointer, the folder picker). Tests drive the window's logic through it and
// read it back.
class HeadlessView : public TformMainView, public Shell {
public:
    struct LabelLook {
        LabelColor Color = LabelColor::WindowText;
        std::string Tooltip;
        bool Link = false;
    };

    // Answers the folder picker: return false to cancel.
    std::function<bool(const std::string& title, std::string& folder, bool showNewFolder)>
        OnBrowseForFolder;
    // What the picker may do meanwhile: rename folders through these.
    TFolderRenameHooks RenameHooks;
    // Answers the choice of a safety archive to go back to: nullopt cancels.
    std::function<std::optional<int>(const std::string& companyName,
                                     const std::vector<TSafetyArchive>& archives,
                                     const std::string& note)>
        OnChooseSafetyArchive;
    // The same with every choice the dialog offers (it takes precedence when set). As in the
    // window's dialog, a removal leaves it open: it is asked again with the list left.
    std::function<std::optional<TSafetyArchiveChoice>(const std::string& companyName,
                                                      const std::vector<TSafetyArchive>& archives,
                                                      const std::string& note)>
        OnChooseSafetyArchives;
    // Answers the settings dialog: false cancels.
    std::function<bool(TWindowSettings& settings)> OnEditSettings;
    // Called whenever the logic sets a text (the command line shows progress from it).
    std::function<void(Element, const std::string&)> OnTextChanged;

    // Pointer state the logic asks for.
    std::optional<int> PointerRow;
    bool PointerOverSyncButton = false;
    bool PointerOverFolderLink = false;

    // What the logic did.
    std::string Caption;
    WindowBounds Area{0, 0, 1920, 1040};
    WindowBounds WindowRect{0, 0, 542, 360};
    bool IsMaximized = false;
    bool Centered = false;
    bool WaitCursor = false;
    bool LoginPanelCovering = false;
    int CloseRequests = 0;
    std::optional<Element> Focused;
    std::vector<std::string> OpenedUrls;
    bool BrowserWorks = true;
    bool ProgramsStart = true;
    std::vector<std::string> WatchedFiles;
    struct StartedProgram {
        std::string Program, Parameters, WorkingFolder;
    };
    std::vector<StartedProgram> StartedPrograms;
    int RowsChangedCount = 0;
    std::vector<int> RepaintedRows;

    bool Enabled(Element element) const;
    int Position(Element element) const;
    LabelLook Look(Element element) const;

    // TformMainView
    void SetCaption(const std::string& caption) override { Caption = caption; }
    WindowBounds WorkArea() const override { return Area; }
    WindowBounds Bounds() const override { return WindowRect; }
    void SetBounds(const WindowBounds& bounds) override { WindowRect = bounds; }
    bool Maximized() const override { return IsMaximized; }
    void SetMaximized(bool maximized) override { IsMaximized = maximized; }
    void CenterOnScreen() override { Centered = true; }
    void SetWaitCursor(bool wait) override { WaitCursor = wait; }
    void CoverWithLoginPanel() override { LoginPanelCovering = true; }
    void CloseWindow() override { ++CloseRequests; }
    std::string Text(Element element) const override;
    void SetText(Element element, const std::string& text) override;
    void SetEnabled(Element element, bool enabled) override { enabled_[element] = enabled; }
    bool Visible(Element element) const override;
    void SetVisible(Element element, bool visible) override { visible_[element] = visible; }
    bool Checked(Element element) const override;
    void SetChecked(Element element, bool checked) override { checked_[element] = checked; }
    void SetFocus(Element element) override { Focused = element; }
    void SetPosition(Element element, int position) override { positions_[element] = position; }
    void SetLabelLook(Element element, LabelColor color, const std::string& tooltip,
                      bool link) override {
        looks_[element] = LabelLook{color, tooltip, link};
    }
    void Repaint(Element) override {}
    void RowsChanged() override { ++RowsChangedCount; }
    void RepaintRow(int row) override { RepaintedRows.push_back(row); }
    std::optional<int> RowUnderPointer() const override { return PointerRow; }
    std::optional<int> HotRow() const override { return PointerRow; }
    bool IsOverSyncButton(int row) const override {
        return PointerRow == row && PointerOverSyncButton;
    }
    bool IsOverFolderLink(int row) const override {
        return PointerRow == row && PointerOverFolderLink;
    }
    bool BrowseForFolder(const std::string& title, std::string& folder, bool showNewFolder,
                         const TFolderRenameHooks& renames) override;
    std::optional<int> ChooseSafetyArchive(const std::string& companyName,
                                           const TSafetyArchiveList& list,
                                           const TSafetyArchiveRemoval& remove) override;
    bool EditSettings(TWindowSettings& settings) override {
        return OnEditSettings && OnEditSettings(settings);
    }
    Shell& DesktopShell() override { return *this; }
    void WatchCompanyFiles(const std::vector<std::string>& paths) override { WatchedFiles = paths; }

    // Shell
    bool OpenUrl(const std::string& url) override {
        OpenedUrls.push_back(url);
        return BrowserWorks;
    }
    bool StartProgram(const std::string& program, const std::string& parameters,
                      const std::string& workingFolder) override {
        StartedPrograms.push_back({program, parameters, workingFolder});
        return ProgramsStart;
    }

private:
    std::map<Element, std::string> texts_;
    std::map<Element, bool> enabled_;
    std::map<Element, bool> visible_;
    std::map<Element, bool> checked_;
    std::map<Element, int> positions_;
    std::map<Element, LabelLook> looks_;
};

}  // namespace tidewell
