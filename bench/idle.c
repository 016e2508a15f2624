/* Keeps the desktop of a Wine session in use until ended (wineserver -k),
   as Windows' own desktop always is: Wine ends its desktop process soon
   after the last program that used it has ended. */
#include <windows.h>

int main(void) {
    GetDesktopWindow();
    Sleep(INFINITE);
    return 0;
}
