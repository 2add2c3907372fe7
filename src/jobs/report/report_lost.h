// The rows one append of a database report could not add, told as one reason: a row alone
// in its own words ("the PostgreSQL database refused a row (COM3 apply try 1): ..."),
// several counted and each named ("4 report rows not added (COM1 apply try 1, COM2 apply
// try 1, ...): ..."), those lost alike under one reason.
//
// A plain value; one thread.
#pragma once

#include <string>
#include <vector>

#include "jobs/model/result.h"

namespace zb {

class LostRows {
public:
    // `name` is the row's RowName; `why` the reason it shares with the rows lost alike;
    // `alone` the whole reason when it is the only row lost.
    void Add(std::string name, std::string why, std::string alone);
    bool empty() const { return rows_.empty(); }
    // Done when no row was lost.
    Status Told() const;

private:
    struct Lost {
        std::string name;
        std::string why;
        std::string alone;
    };
    std::vector<Lost> rows_;
};

}  // namespace zb
