#include <gtest/gtest.h>

#include <algorithm>

#include "kvprtobj/kvprtobj.h"

TEST(ModuleRegistration, RegisteredOnceAtLoadAndOnceMorePerInitCall) {
    auto modules = AfxExtensionModules();
    EXPECT_EQ(std::count(modules.begin(), modules.end(), "kvprtobj"), 1);
    auto before = AfxModuleRecords().size();
    InitKVPrtObjDll();
    InitKVPrtObjDll();
    auto records = AfxModuleRecords();
    EXPECT_TRUE(records.size() == before + 2 && records.back() == "kvprtobj");
}

TEST(CObjectBase, RunTimeClassNameIsKeptByThePrinterObject) {
    KVPrtObj printer;
    EXPECT_STREQ(printer.className(), "CObject");
    CObject* base = new KVPrtObj;
    delete base;   // the virtual destructor reaches the derived object (checked by the sanitizer build)
}
