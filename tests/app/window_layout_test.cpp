// Where the setup window opens and what its states show.
#include "app/window_layout.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

struct CentreCase {
  const char* name;
  std::int32_t left, top, right, bottom;
  std::int32_t x, y;
};

class CenteredWindowOriginTest : public testing::TestWithParam<CentreCase> {};

TEST_P(CenteredWindowOriginTest, CentresTheOuterSizeInTheWorkArea) {
  const CentreCase& c = GetParam();
  const WindowOrigin origin = CenteredWindowOrigin(c.left, c.top, c.right, c.bottom, 650, 430);
  EXPECT_EQ(origin.x, c.x);
  EXPECT_EQ(origin.y, c.y);
}

INSTANTIATE_TEST_SUITE_P(
    WorkAreas, CenteredWindowOriginTest,
    testing::Values(CentreCase{"FullHdAboveTaskbar", 0, 0, 1920, 1040, 635, 305},
                    CentreCase{"NarrowerThanWindowIsNotClamped", 0, 0, 600, 1040, -25, 305},
                    // -1 / 2 truncates to 0; a flooring division would give -1.
                    CentreCase{"OnePixelShortTruncatesTowardZero", 0, 0, 649, 429, 0, 0},
                    CentreCase{"OddSpareHalvesDown", 0, 0, 1281, 1025, 315, 297},
                    CentreCase{"TaskbarOnTheLeft", 48, 0, 1920, 1080, 659, 325},
                    CentreCase{"SecondMonitorLeftOfPrimary", -1920, 0, 0, 1080, -1285, 325},
                    // A failed work-area query leaves the zero rectangle.
                    CentreCase{"ZeroRectangle", 0, 0, 0, 0, -325, -215}),
    [](const testing::TestParamInfo<CentreCase>& test) { return std::string(test.param.name); });

struct StateCase {
  const char* name;
  SetupState state;
  bool inputsEnabled;
  bool installEnabled;
  const wchar_t* installText;
};

class ViewOfStateTest : public testing::TestWithParam<StateCase> {};

TEST_P(ViewOfStateTest, ShowsTheStatesControls) {
  const StateCase& c = GetParam();
  const SetupStateView view = ViewOfState(c.state);
  EXPECT_EQ(view.inputsEnabled, c.inputsEnabled);
  EXPECT_EQ(view.installEnabled, c.installEnabled);
  EXPECT_EQ(std::wstring(view.installText), c.installText);
}

INSTANTIATE_TEST_SUITE_P(
    States, ViewOfStateTest,
    testing::Values(StateCase{"Ready", SetupState::Ready, true, true, L"Установить Fernquill"},
                    StateCase{"Installing", SetupState::Installing, false, false, L"Устанавливаем..."},
                    StateCase{"Failed", SetupState::Failed, true, true, L"Повторить"},
                    StateCase{"Installed", SetupState::Installed, true, false, L"Установлено"}),
    [](const testing::TestParamInfo<StateCase>& test) { return std::string(test.param.name); });

TEST(StateAfterRunTest, AnyNonZeroFlagIsSuccess) {
  EXPECT_EQ(StateAfterRun(0), SetupState::Failed);
  EXPECT_EQ(StateAfterRun(1), SetupState::Installed);
  EXPECT_EQ(StateAfterRun(2), SetupState::Installed);
  EXPECT_EQ(StateAfterRun(static_cast<std::uintptr_t>(-1)), SetupState::Installed);
}

}  // namespace
