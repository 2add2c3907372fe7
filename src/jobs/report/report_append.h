// A job report on disk: one row per port and try of a job, kept in a CSV or JSON file that
// grows over a whole shift, and appended to by the window and by zbctl alike.
//
// The functions keep no state. AppendReport serialises writers of one folder, other
// processes included, with a lock on the folder (file_storage.h holds each platform's part).
#pragma once

#include <string>
#include <vector>

#include "jobs/model/result.h"
#include "jobs/report/report_row.h"

namespace zb {

// Whether rows can be appended to `path`: it names a file, its folder exists and is
// writable, and a file already there is a regular file holding a report of this format
// (for CSV, our header first, or the one earlier releases wrote, without the run's columns;
// for JSON, one array). Says why not.
Status CheckReportFile(const std::string& path);

// Appends the rows to the report at `path`, creating it (with the CSV header) when it is
// missing or empty; a CSV file with the earlier header gets rows of its columns. The new file is
// written beside the old one under a temporary name, flushed to disk and renamed over it, so a
// reader or a crash sees the old report or the new one, never a part; an existing file keeps its
// permissions. Refuses, changing nothing, a file that CheckReportFile would refuse.
Status AppendReport(const std::string& path, const std::vector<ReportRow>& rows);

}  // namespace zb
