// The program's string table: every user-visible message and column heading, by id.
// Constant data; any thread may read it.
#pragma once

#include <QString>

namespace zb::ui {

enum StringId : int {
    IDS_PREPARING = 301,  // "Preparing..."
    IDS_CONFIRM_REMOVE = 302,
    IDS_GET_CONFIG_FAIL = 303,
    IDS_APPLY_FAIL = 304,
    IDS_CONFIRM_APPLY_ALL = 305,
    IDS_APPLY_OK = 306,
    IDS_EXPORT_OK = 307,
    IDS_IMPORT_INVALID = 308,
    IDS_IMPORT_OK = 309,
    IDS_UPGRADE_OK = 319,
    IDS_UPGRADE_FAIL = 320,
    IDS_COL_WORK_COM = 500,
    IDS_COL_WORK_SIZE = 501,
    IDS_COL_WORK_PROGRESS = 502,
    IDS_COL_WORK_MESSAGES = 503,
    IDS_TITLE = 600,
    IDS_VERSION = 601,
    IDS_BUILD = 602,
    IDS_LEGAL = 603,
    IDS_COL_COM = 614,
};

// The text of `id`; an empty string for an id the table does not hold.
QString LoadStr(int id);
bool HasStr(int id);

}  // namespace zb::ui
