// Placeholder until the test run lands: the button only toggles nothing.
#include "test/TestRun.h"

namespace kelvaro {

TestRun::TestRun(StationState& state, Dialogs& dialogs, ProgressView& progress, TestRunView& view,
                 std::string exportFolder)
    : state_(state),
      dialogs_(dialogs),
      progress_(progress),
      view_(view),
      exportFolder_(std::move(exportFolder)) {}

void TestRun::btIniciarClick() {}
void TestRun::LerAmostras() {}

}  // namespace kelvaro
