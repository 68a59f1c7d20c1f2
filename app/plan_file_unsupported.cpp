// Plan files in a build without the CSV library (the Windows cross build):
// every plan is refused.
#include "app/console.h"
#include "app/plan_file.h"

namespace kelvo {

namespace {

const char kUnsupported[] = "Plan files are not supported by this build.";

}  // namespace

bool ParsePlanText(const std::string&, const std::string&, int32_t, std::vector<PlanRow>& rows,
                   std::string& problem) {
    rows.clear();
    problem = kUnsupported;
    return false;
}

bool ReadPlan(const CommandLine&, std::vector<PlanRow>& rows) {
    rows.clear();
    ErrFormat("ERROR: %s\n", kUnsupported);
    return false;
}

}  // namespace kelvo
