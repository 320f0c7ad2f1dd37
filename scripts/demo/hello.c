/* A small Windows program used to show Quillon at work. */
#include <stdio.h>

int main(void) {
    puts("Hello from a module that carried TD32 debug information.");
    return 0;
}
