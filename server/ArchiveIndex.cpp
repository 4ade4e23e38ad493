#include "ArchiveIndex.h"

#include <algorithm>
#include <limits>

namespace tidewell::webfolder {

ArchivePlan PlanArchives(std::vector<StoredArchive> existing, std::string_view newName,
                         std::size_t keep) {
    // The archive stored last is the newest, whatever time its name carries: a user who sends
    // older data on purpose wants the web folder to hold it. existing comes newest first.
    std::vector<std::string> names{std::string(newName)};
    for (const auto& archive : existing) {
        if (archive.name != newName) names.push_back(archive.name);
    }
    if (names.size() > keep) names.resize(keep);

    ArchivePlan plan;
    plan.kept = true;
    for (auto& archive : existing) {
        const bool stays = archive.name != newName &&
                           std::find(names.begin(), names.end(), archive.name) != names.end();
        if (stays) continue;
        plan.releasedBytes += archive.size;
        plan.released.push_back(std::move(archive));
    }
    return plan;
}

UploadDecision Decide(const AccountArchives& account, std::int64_t quota, std::string_view name,
                      const StoreRules& rules, const Charges& charges) {
    UploadDecision decision;
    decision.newCompany = !account.companyId;
    if (decision.newCompany &&
        account.companyCount >= static_cast<std::int64_t>(rules.maxCompanies)) {
        decision.verdict = UploadVerdict::CompanyLimit;
        return decision;
    }
    if (rules.appendOnly &&
        std::any_of(account.existing.begin(), account.existing.end(),
                    [&](const StoredArchive& archive) { return archive.name == name; })) {
        decision.verdict = UploadVerdict::NameTaken;
        return decision;
    }
    decision.plan =
        PlanArchives(account.existing, name,
                     rules.appendOnly ? std::numeric_limits<std::size_t>::max() : kKeptArchives);
    std::int64_t released = 0;
    for (const auto& archive : decision.plan.released) released += charges.Cost(archive.size);
    const std::int64_t charge = decision.newCompany ? kCompanyCharge : 0;
    decision.room = quota - (account.used + charge - released);
    decision.verdict = decision.room > 0 ? UploadVerdict::Accepted : UploadVerdict::QuotaExceeded;
    return decision;
}

PrunePlan PlanPrune(const std::vector<std::int64_t>& arrivals, std::int64_t companyCreated,
                    const PruneRules& rules) {
    PrunePlan plan;
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
        const bool goes = (rules.keep && i >= *rules.keep) ||
                          (rules.keepBefore && arrivals[i] >= *rules.keepBefore);
        if (goes) plan.going.push_back(i);
    }
    // A company someone made after that time goes with its archives.
    plan.companyGoes = rules.keepBefore && plan.going.size() == arrivals.size() &&
                       companyCreated >= *rules.keepBefore;
    return plan;
}

}  // namespace tidewell::webfolder
