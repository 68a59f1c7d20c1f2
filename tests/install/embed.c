/* A program outside the tree that embeds the installed QUEX library: it
 * opens a handle, checks it, and closes it. It opens no socket. */
#include <quex/quex.h>
#include <stdio.h>

static int failed(const char* what) {
    fprintf(stderr, "embed: %s\n", what);
    return 1;
}

int main(void) {
    const QuexGuid guid = {0x12345678u, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
    if (QUEXOpen(0, &guid) != NULL) return failed("QUEXOpen accepted the magic 0");
    QuexHandle handle = QUEXOpen(QUEX_MAGIC_TELQ, &guid);
    if (handle == NULL) return failed("QUEXOpen(TELQ) gave no handle");
    if (QUEXGetLastError(handle) != QUEX_OK) return failed("a fresh handle has a last error");
    if (QUEXClose(handle) != QUEX_OK) return failed("QUEXClose failed");
    if (QUEXGetLastError(handle) != QUEX_FAILED) return failed("the handle is still known after QUEXClose");
    printf("embed: QUEX %d.%d.%d opened and closed a handle\n", QUEX_VERSION_MAJOR, QUEX_VERSION_MINOR,
           QUEX_VERSION_PATCH);
    return 0;
}
