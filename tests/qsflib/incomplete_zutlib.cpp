// A file library that lacks all but one of its functions, for the tests of a
// missing function (loaded through KVPRTOBJ_QSFLIB).
#include "kvprtobj/zutlib32.h"

extern "C" ZUTLIB_API int PtQsfOpen(const char*, unsigned long, _QSFFILE** file) {
    *file = nullptr;
    return PTQSF_NOT_QSF;
}
