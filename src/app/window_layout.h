// Pure pieces of the setup window: where it opens and what each state shows.
#pragma once

#include <cstdint>
#include <string_view>

inline constexpr int kSetupWindowWidth = 650;
inline constexpr int kSetupWindowHeight = 430;

struct WindowOrigin {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

// Top-left corner that centres a window of the given outer size in the work area. Signed, with the
// division truncating toward zero, and never clamped: a too small work area gives a negative offset.
WindowOrigin CenteredWindowOrigin(std::int32_t left, std::int32_t top, std::int32_t right,
                                  std::int32_t bottom, std::int32_t width, std::int32_t height);

enum class SetupState { Ready, Installing, Failed, Installed };

// What the four input controls show in a state.
struct SetupStateView {
  bool inputsEnabled;  // edit box, browse button, check box
  bool installEnabled;
  std::wstring_view installText;
};

SetupStateView ViewOfState(SetupState state);

// The state a run's end leads to, from WM_SETUP_FINISHED's wParam.
SetupState StateAfterRun(std::uintptr_t finishedFlag);
