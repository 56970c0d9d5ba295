#include "model/button_functions.h"

#include <algorithm>

namespace brevak {

namespace {
// Codes beginning with device byte 17 are keyboard keys: modifiers, then the HID usage.
constexpr ButtonFunction kTable[] = {
    {0, "button_off_text", "ms_1_button_off", {1, 0, 0}},
    {1, "left_click_text", "ms_1_click", {2, 0, 0}},
    {2, "right_click_text", "ms_1_menu", {3, 0, 0}},
    {3, "wheel_click_text", "ms_1_scroll", {4, 0, 0}},
    {4, "forward_text", "ms_1_forward", {6, 0, 0}},
    {5, "backward_text", "ms_1_backward", {5, 0, 0}},
    {6, "dpi_cycle_text", "ms_1_dpi_cycle", {13, 0, 0}},
    {7, "dpi_up_text", "ms_1_dpi_up", {14, 0, 0}},
    {8, "dpi_down_text", "ms_1_dpi_down", {15, 0, 0}},
    {9, "double_click_text", "ms_1_double_click", {7, 0, 0}},
    {10, "fire_button_text", "ms_1_fire_button", {8, 0, 0}},
    {11, "scroll_up_text", "ms_1_scroll_up", {9, 0, 0}},
    {12, "scroll_down_text", "ms_1_scroll_down", {10, 0, 0}},
    {13, "titl_left_text", "ms_1_titl_left", {11, 0, 0}},
    {14, "titl_right_text", "ms_1_titl_right", {12, 0, 0}},
    {16, "", "ms_1_shortcut", {17, 0, 0}, true},
    {17, "", "ms_1_select_macro", {18, 0, 0}, true},
    {19, "", "", {19, 0, 0}},
    {21, "", "", {43, 0, 0}},
    {22, "easy_aim_text", "ms_1_easy_aim", {16, 0, 3}},
    {23, "led_loop_text", "ms_1_led_loop", {41, 0, 3}},
    {24, "", "", {40, 0, 0}},
    {32, "cut_text", "ms_1_cut", {17, 1, 27}},
    {33, "copy_text", "ms_1_copy", {17, 1, 6}},
    {34, "paste_text", "ms_1_paste", {17, 1, 25}},
    {35, "open_text", "ms_1_open", {17, 1, 18}},
    {36, "save_text", "ms_1_save", {17, 1, 22}},
    {37, "find_text", "ms_1_find", {17, 1, 9}},
    {38, "redo_text", "ms_1_redo", {17, 1, 28}},
    {39, "undo_text", "", {17, 1, 29}},
    {40, "select_all_text", "ms_1_select_all", {17, 1, 4}},
    {41, "print_text", "ms_1_print", {17, 1, 19}},
    {42, "close_window_text", "ms_1_close_window", {17, 4, 61}},
    {43, "swap_windows_text", "ms_1_swap_windows", {17, 4, 43}},
    {44, "show_desktop_text", "ms_1_show_desktop", {17, 8, 7}},
    {45, "run_command_text", "ms_1_run_command", {17, 8, 21}},
    {46, "lock_pc_text", "ms_1_lock_pc", {17, 8, 15}},
    {47, "", "", {17, 1, 17}},
    {48, "", "", {17, 1, 46}},
    {49, "", "", {17, 1, 45}},
    {50, "screen_capture_text", "ms_1_screen_capture", {17, 10, 22}},
    {51, "task_view_text", "", {0, 0, 0}},
    {52, "", "", {60, 0, 0}},
    {54, "profile_cycle_text", "", {52, 0, 0}},
    {55, "profile_up_text", "", {53, 0, 0}},
    {56, "profile_down_text", "", {54, 0, 0}},
    {64, "media_player_text", "ms_1_media_player", {21, 0, 0}},
    {65, "play_pause_text", "ms_1_play_pause", {24, 0, 0}},
    {66, "media_stop_text", "ms_1_media_stop", {25, 0, 0}},
    {67, "previous_track_text", "ms_1_pre_track", {22, 0, 0}},
    {68, "next_track_text", "ms_1_next_track", {23, 0, 0}},
    {69, "volume_up_text", "ms_1_volume_up", {27, 0, 0}},
    {70, "volume_down_text", "ms_1_volume_down", {28, 0, 0}},
    {71, "mute_text", "ms_1_mute", {26, 0, 0}},
    {80, "browser_home_text", "ms_1_browser_home", {37, 0, 0}},
    {81, "browser_favorites_text", "ms_1_browser_favorites", {17, 3, 18}},
    {82, "browser_forward_text", "ms_1_browser_forward", {32, 0, 0}},
    {83, "browser_backward_text", "ms_1_browser_backward", {33, 0, 0}},
    {84, "browser_stop_text", "ms_1_browser_stop", {34, 0, 0}},
    {85, "browser_refresh_text", "ms_1_browser_refresh", {36, 0, 0}},
    {86, "browser_search_text", "ms_1_browser_search", {38, 0, 0}},
    {87, "email_text", "ms_1_email", {30, 0, 0}},
    {88, "calculator_text", "ms_1_calculator", {29, 0, 0}},
    {89, "my_computer_text", "ms_1_my_computer", {35, 0, 0}},
    {115, "", "", {20, 0, 0}},
};
}  // namespace

std::span<const ButtonFunction> ButtonFunctionTable() { return kTable; }

const ButtonFunction* FindButtonFunction(uint8_t code) {
  auto it = std::find_if(std::begin(kTable), std::end(kTable), [&](const auto& f) { return f.code == code; });
  return it == std::end(kTable) ? nullptr : &*it;
}

const ButtonFunction* FindButtonFunctionByMenuItem(std::string_view menu_item) {
  if (menu_item.empty()) return nullptr;
  auto it = std::find_if(std::begin(kTable), std::end(kTable),
                         [&](const auto& f) { return f.menu_item == menu_item; });
  return it == std::end(kTable) ? nullptr : &*it;
}

}  // namespace brevak
