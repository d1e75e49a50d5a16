// Benchmark program: removes one directory tree with RemoveDirectoryTree, the
// launcher's own removal of its temporary working directory.
//   bench_remove.exe DIRECTORY
#include <stdio.h>

#include "install/remove_tree.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        (void)fprintf(stderr, "usage: bench_remove DIRECTORY\n");
        return 2;
    }
    TreeLeftover left;
    return RemoveDirectoryTree(argv[1], INVALID_HANDLE_VALUE, &left) == 0 ? 0 : 1;
}
