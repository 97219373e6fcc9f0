/* Preloaded into a program under test: appends the control flags and speeds of every
 * tcsetattr call to the file named by TCSETATTR_RECORD, then makes the real call. A pty drops
 * parity and data bits silently, so its far end cannot tell what the program asked for. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <termios.h>

typedef int (*tcsetattr_function)(int, int, const struct termios *);

int tcsetattr(int descriptor, int when, const struct termios *settings)
{
    static tcsetattr_function real_tcsetattr;
    const char *record_path = getenv("TCSETATTR_RECORD");
    if (real_tcsetattr == NULL) {
        /* Through an object pointer: ISO C has no cast from void * to a function pointer. */
        *(void **)&real_tcsetattr = dlsym(RTLD_NEXT, "tcsetattr");
    }
    if (record_path != NULL && settings != NULL) {
        FILE *record = fopen(record_path, "a");
        if (record != NULL) {
            fprintf(record, "%lo %lu %lu\n", (unsigned long)settings->c_cflag,
                    (unsigned long)cfgetispeed(settings), (unsigned long)cfgetospeed(settings));
            fclose(record);
        }
    }
    return real_tcsetattr(descriptor, when, settings);
}
