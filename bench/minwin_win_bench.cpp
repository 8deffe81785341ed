// The peer of the start-up benchmark: a minimal Win32 program that registers
// a class and opens one window, nothing else.
#include "bench/minimal_window.h"

int main() { return minimal_window(); }
