#include "app/report_access.h"

#include "archive/cal_rep.h"

namespace app {

std::string CalRepReports::CreatePDF(int Index, bool Show) { return frm_.CreatePDF(Index, Show); }

}  // namespace app
