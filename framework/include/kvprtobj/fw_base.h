// Base types of the framework stand-in: the text type, the base object class
// and the few Windows scalar types that the library's interfaces carry.
#pragma once

#include <cstdint>
#include <string>

#define KVPO_API __attribute__((visibility("default")))
// Members of an exported class that stay inside the library.
#define KVPO_LOCAL __attribute__((visibility("hidden")))

using CString = std::string;

using BOOL = int;
using BYTE = unsigned char;
using WORD = unsigned short;
using DWORD = unsigned long;
using UINT = unsigned int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HANDLE = void*;
using HMODULE = void*;
using FARPROC = void (*)();

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

struct HWND__;
using HWND = HWND__*;

// Run-time class information: the class name of a CObject.
struct KVPO_API CRuntimeClass {
    const char* m_lpszClassName;
};

// The framework's base object: a virtual destructor and a run-time class.
// Its five virtual functions come first in the virtual table of every derived
// class: the run-time class query, the destructor, then three more.
class KVPO_API CObject {
public:
    CObject() = default;
    CObject(const CObject&) = default;
    CObject& operator=(const CObject&) = default;

    virtual const CRuntimeClass* GetRuntimeClass() const;
    virtual ~CObject();
    virtual void Serialize(void* archive);
    virtual void AssertValid() const;
    virtual void Dump(std::string& out) const;

    // The class name of GetRuntimeClass().
    const char* className() const;

    static const CRuntimeClass classCObject;
};
