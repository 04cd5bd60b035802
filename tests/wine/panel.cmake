target_sources(plugin_wine_tests PRIVATE
  panel_fixture.cpp
  panel_keyboard_test.cpp
  panel_mouse_test.cpp
  panel_robustness_test.cpp
  panel_screenshot_test.cpp
  panel_template_test.cpp
  panel_window_test.cpp)
