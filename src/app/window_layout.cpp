// Window placement and the state table of the setup window.
#include "app/window_layout.h"

WindowOrigin CenteredWindowOrigin(std::int32_t left, std::int32_t top, std::int32_t right,
                                  std::int32_t bottom, std::int32_t width, std::int32_t height) {
  // Wider intermediates keep absurd work areas from overflowing; the results fit for any real screen.
  const std::int64_t x = std::int64_t{left} + (std::int64_t{right} - left - width) / 2;
  const std::int64_t y = std::int64_t{top} + (std::int64_t{bottom} - top - height) / 2;
  return {static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
}

SetupStateView ViewOfState(SetupState state) {
  switch (state) {
    case SetupState::Installing:
      return {false, false, L"Устанавливаем..."};
    case SetupState::Failed:
      return {true, true, L"Повторить"};
    case SetupState::Installed:
      return {true, false, L"Установлено"};
    case SetupState::Ready:
      break;
  }
  return {true, true, L"Установить Fernquill"};
}

SetupState StateAfterRun(std::uintptr_t finishedFlag) {
  return finishedFlag != 0 ? SetupState::Installed : SetupState::Failed;
}
