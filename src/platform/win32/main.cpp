// platenhawk.exe: the program on the machine's physical drives.
#include "app/main.h"

int main() { Main(); }
