// The program on a Linux terminal with the machine's block devices.
#include "app/main.h"

int main() { Main(); }
