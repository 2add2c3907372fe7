#include "jobs/report/report_lost.h"

#include <utility>

namespace zb {

void LostRows::Add(std::string name, std::string why, std::string alone) {
    rows_.push_back({std::move(name), std::move(why), std::move(alone)});
}

Status LostRows::Told() const {
    if (rows_.empty()) return {};
    if (rows_.size() == 1) return Status::Fail(rows_[0].alone);
    std::string told = std::to_string(rows_.size()) + " report rows not added";
    std::vector<bool> named(rows_.size());
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (named[i]) continue;
        std::string names;
        for (std::size_t j = i; j < rows_.size(); ++j) {
            if (named[j] || rows_[j].why != rows_[i].why) continue;
            named[j] = true;
            names += (names.empty() ? "" : ", ") + rows_[j].name;
        }
        told += (i == 0 ? " (" : "; (") + names + "): " + rows_[i].why;
    }
    return Status::Fail(told);
}

}  // namespace zb
