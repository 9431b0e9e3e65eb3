// The file library whose list 2 of a file cannot be read (loaded through KVPRTOBJ_QSFLIB);
// every other function is the real library's, found through its dependency.
#include <dlfcn.h>

#include "kvprtobj/zutlib32.h"

extern "C" ZUTLIB_API int PtQsfGetVariables(_QSFFILE* file, int list, unsigned char** variables,
                                            unsigned short* count) {
    using Proc = int (*)(_QSFFILE*, int, unsigned char**, unsigned short*);
    static const auto real = reinterpret_cast<Proc>(dlsym(RTLD_NEXT, "PtQsfGetVariables"));
    if (list != 2) return real(file, list, variables, count);
    *variables = nullptr;
    *count = 0;
    return PTQSF_NO_MEMORY;
}
