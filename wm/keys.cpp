// The key table: keyboard positions (SDL scancodes) to framework key codes.
// The Shift, Ctrl and Alt keys of either side give the generic codes 106,
// 107 and 109; the side-specific Shift codes 75 and 87 are not produced.
#include <array>

#include <SDL.h>

#include "wm/internal.h"

namespace {

constexpr std::array<unsigned char, SDL_NUM_SCANCODES> BuildTable() {
  std::array<unsigned char, SDL_NUM_SCANCODES> t{};
  t[SDL_SCANCODE_ESCAPE] = WM_KEY_ESCAPE;
  for (int i = 0; i < 12; ++i) t[SDL_SCANCODE_F1 + i] = static_cast<unsigned char>(WM_KEY_F1 + i);
  t[SDL_SCANCODE_SCROLLLOCK] = WM_KEY_SCROLLLOCK;
  t[SDL_SCANCODE_PAUSE] = WM_KEY_PAUSE;
  t[SDL_SCANCODE_GRAVE] = WM_KEY_GRAVE;
  for (int i = 0; i < 9; ++i) t[SDL_SCANCODE_1 + i] = static_cast<unsigned char>(WM_KEY_1 + i);
  t[SDL_SCANCODE_0] = WM_KEY_0;
  t[SDL_SCANCODE_MINUS] = WM_KEY_MINUS;
  t[SDL_SCANCODE_EQUALS] = WM_KEY_EQUALS;
  t[SDL_SCANCODE_BACKSPACE] = WM_KEY_BACKSPACE;
  t[SDL_SCANCODE_INSERT] = WM_KEY_INSERT;
  t[SDL_SCANCODE_HOME] = WM_KEY_HOME;
  t[SDL_SCANCODE_PAGEUP] = WM_KEY_PAGEUP;
  t[SDL_SCANCODE_NUMLOCKCLEAR] = WM_KEY_NUMLOCK;
  t[SDL_SCANCODE_KP_DIVIDE] = WM_KEY_KP_DIVIDE;
  t[SDL_SCANCODE_KP_MULTIPLY] = WM_KEY_KP_MULTIPLY;
  t[SDL_SCANCODE_KP_MINUS] = WM_KEY_KP_SUBTRACT;
  t[SDL_SCANCODE_TAB] = WM_KEY_TAB;
  constexpr SDL_Scancode kRowQ[] = {SDL_SCANCODE_Q, SDL_SCANCODE_W, SDL_SCANCODE_E, SDL_SCANCODE_R,
                                    SDL_SCANCODE_T, SDL_SCANCODE_Y, SDL_SCANCODE_U, SDL_SCANCODE_I,
                                    SDL_SCANCODE_O, SDL_SCANCODE_P};
  for (int i = 0; i < 10; ++i) t[kRowQ[i]] = static_cast<unsigned char>(WM_KEY_Q + i);
  t[SDL_SCANCODE_LEFTBRACKET] = WM_KEY_LEFTBRACKET;
  t[SDL_SCANCODE_RIGHTBRACKET] = WM_KEY_RIGHTBRACKET;
  t[SDL_SCANCODE_RETURN] = WM_KEY_ENTER;
  t[SDL_SCANCODE_KP_ENTER] = WM_KEY_ENTER;
  t[SDL_SCANCODE_DELETE] = WM_KEY_DELETE;
  t[SDL_SCANCODE_END] = WM_KEY_END;
  t[SDL_SCANCODE_PAGEDOWN] = WM_KEY_PAGEDOWN;
  t[SDL_SCANCODE_KP_7] = WM_KEY_KP_7;
  t[SDL_SCANCODE_KP_8] = WM_KEY_KP_8;
  t[SDL_SCANCODE_KP_9] = WM_KEY_KP_9;
  t[SDL_SCANCODE_KP_PLUS] = WM_KEY_KP_ADD;
  t[SDL_SCANCODE_CAPSLOCK] = WM_KEY_CAPSLOCK;
  constexpr SDL_Scancode kRowA[] = {SDL_SCANCODE_A, SDL_SCANCODE_S, SDL_SCANCODE_D,
                                    SDL_SCANCODE_F, SDL_SCANCODE_G, SDL_SCANCODE_H,
                                    SDL_SCANCODE_J, SDL_SCANCODE_K, SDL_SCANCODE_L};
  for (int i = 0; i < 9; ++i) t[kRowA[i]] = static_cast<unsigned char>(WM_KEY_A + i);
  t[SDL_SCANCODE_SEMICOLON] = WM_KEY_SEMICOLON;
  t[SDL_SCANCODE_APOSTROPHE] = WM_KEY_APOSTROPHE;
  t[SDL_SCANCODE_NONUSBACKSLASH] = WM_KEY_EXTRA;
  t[SDL_SCANCODE_KP_4] = WM_KEY_KP_4;
  t[SDL_SCANCODE_KP_5] = WM_KEY_KP_5;
  t[SDL_SCANCODE_KP_6] = WM_KEY_KP_6;
  t[SDL_SCANCODE_BACKSLASH] = WM_KEY_BACKSLASH;
  t[SDL_SCANCODE_NONUSHASH] = WM_KEY_BACKSLASH;
  constexpr SDL_Scancode kRowZ[] = {SDL_SCANCODE_Z, SDL_SCANCODE_X, SDL_SCANCODE_C, SDL_SCANCODE_V,
                                    SDL_SCANCODE_B, SDL_SCANCODE_N, SDL_SCANCODE_M};
  for (int i = 0; i < 7; ++i) t[kRowZ[i]] = static_cast<unsigned char>(WM_KEY_Z + i);
  t[SDL_SCANCODE_COMMA] = WM_KEY_COMMA;
  t[SDL_SCANCODE_PERIOD] = WM_KEY_PERIOD;
  t[SDL_SCANCODE_SLASH] = WM_KEY_SLASH;
  t[SDL_SCANCODE_UP] = WM_KEY_UP;
  t[SDL_SCANCODE_KP_1] = WM_KEY_KP_1;
  t[SDL_SCANCODE_KP_2] = WM_KEY_KP_2;
  t[SDL_SCANCODE_KP_3] = WM_KEY_KP_3;
  t[SDL_SCANCODE_SPACE] = WM_KEY_SPACE;
  t[SDL_SCANCODE_LEFT] = WM_KEY_LEFT;
  t[SDL_SCANCODE_DOWN] = WM_KEY_DOWN;
  t[SDL_SCANCODE_RIGHT] = WM_KEY_RIGHT;
  t[SDL_SCANCODE_KP_0] = WM_KEY_KP_0;
  t[SDL_SCANCODE_KP_PERIOD] = WM_KEY_KP_DECIMAL;
  t[SDL_SCANCODE_LSHIFT] = WM_KEY_SHIFT;
  t[SDL_SCANCODE_RSHIFT] = WM_KEY_SHIFT;
  t[SDL_SCANCODE_LCTRL] = WM_KEY_CTRL;
  t[SDL_SCANCODE_RCTRL] = WM_KEY_CTRL;
  t[SDL_SCANCODE_LALT] = WM_KEY_ALT;
  t[SDL_SCANCODE_RALT] = WM_KEY_ALT;
  t[SDL_SCANCODE_LGUI] = WM_KEY_WINDOWS;
  t[SDL_SCANCODE_RGUI] = WM_KEY_WINDOWS;
  return t;
}

constexpr auto kKeyTable = BuildTable();

}  // namespace

int brisk::wm::KeyCode(int scancode) {
  if (scancode < 0 || scancode >= SDL_NUM_SCANCODES) return 0;
  return kKeyTable[scancode];
}
