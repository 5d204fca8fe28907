// The desktop of a Linux process, as far as the plug-in needs one: a modal
// message box. On Windows the plug-in calls MessageBoxA of user32; on Linux
// the program that loads the plug-in provides this function, as it provides
// the host's TSI_ functions (the stand-in host does both). Where no program
// provides it, a box is answered with OK at once (os_linux.cpp).
#pragma once

extern "C" {

// Shows `text` (code page 932) as a message box of the Win32 `type` and
// returns the id of the button pressed.
__attribute__((visibility("default"))) int Desktop_MessageBox(const char* text, unsigned type);

}  // extern "C"
