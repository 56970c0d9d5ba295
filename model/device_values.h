#pragma once
// What the mouse's settings mean, written once: the DPI unit and range, the number of polling
// options, and which lighting effect shows brightness, speed and colour. The page and the frame
// builders read these; the simulated mouse keeps its own reading on purpose.

#include <array>
#include <cstdint>

namespace brevak {

// `dpi_value` counts steps of 50 DPI; the mouse takes 50..26000 DPI.
inline constexpr int32_t kDpiStep = 50;
inline constexpr int32_t kDpiMin = 50;
inline constexpr int32_t kDpiMax = 26000;
static_assert(kDpiMax % kDpiStep == 0 && kDpiMin % kDpiStep == 0);

// A typed DPI as the stage takes it: clamped to the mouse's range, then rounded down to a step.
inline constexpr int32_t DpiStepsOfTyped(long dpi) {
  dpi = dpi < kDpiMin ? kDpiMin : dpi > kDpiMax ? kDpiMax : dpi;
  return int32_t(dpi / kDpiStep);
}
static_assert(DpiStepsOfTyped(0) == 1 && DpiStepsOfTyped(849) == 16 && DpiStepsOfTyped(99999) == kDpiMax / kDpiStep);

// The standard group (cable, 1K receiver, Bluetooth) and the high-speed group (4K, 8K).
inline constexpr int kPollingOptions = 4;
inline constexpr int kPollingHsOptions = 7;

// Below this battery level, while discharging, the user is warned.
inline constexpr int kLowBatteryPercent = 15;
// Nearly empty: the last warning before the mouse turns itself off.
inline constexpr int kCriticalBatteryPercent = 5;

// The largest value of each slider setting (the smallest is 0), as the layout's sliders offer.
inline constexpr int32_t kBrightnessMax = 15;
inline constexpr int32_t kEffectSpeedMax = 9;
inline constexpr int32_t kLightOffTimerMax = 60;  // half-minutes
inline constexpr int32_t kSleepTimerMax = 255;
inline constexpr int32_t kKeyDebounceMax = 15;    // units of 2 ms

// What a lighting effect lets the user set.
struct LightEffectShows {
  bool brightness;
  bool speed;
  bool colour;
};

// By effect index; effects past the table show nothing.
inline constexpr std::array<LightEffectShows, 12> kLightEffects = {{
    {false, false, false},  // 0: off
    {true, false, true},    // 1: steady
    {false, true, true},    // 2: breathing
    {false, true, false},   // 3
    {false, true, false},   // 4
    {true, false, false},   // 5
    {false, true, false},   // 6
    {false, true, false},   // 7
    {false, true, false},   // 8
    {false, true, false},   // 9
    {false, true, false},   // 10
    {false, true, false},   // 11
}};

inline constexpr LightEffectShows LightEffectOf(int32_t effect) {
  if (effect < 0 || effect >= int32_t(kLightEffects.size())) return {false, false, false};
  return kLightEffects[size_t(effect)];
}

}  // namespace brevak
