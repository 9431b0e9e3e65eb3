#include <gtest/gtest.h>

#include "scripted_printer.h"

using namespace kvtest;

TEST(PrinterObject, DefaultConstruction) {
    OpenPrtObj p;
    unsigned long type = 0, subtype = 0;
    p.getPrinterType(&type, &subtype);
    EXPECT_EQ(type, 0xFFFFFFFFul);
    EXPECT_EQ(subtype, 0xFFFFFFFFul);
    EXPECT_EQ(p.m_nBidiRetryCount, 1);
    EXPECT_EQ(p.getBidiQueryNetType(), 0u);
    EXPECT_EQ(p.getPsfType(), KVPrtObj::PSF_NONE);
    EXPECT_EQ(p.getBCEHandle(), 0);
    EXPECT_EQ(p.getKVPrtObjType(), 0);
    EXPECT_EQ(p.getUserData(), 0u);
    EXPECT_EQ(p.m_hNotifyWnd, nullptr);
    EXPECT_EQ(p.m_nPanelWidth, 0);
    EXPECT_EQ(p.m_nPanelHeight, 0);
}
