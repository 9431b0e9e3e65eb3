// Requests on one object from several threads while another flips the
// bidi-active flag: the flag is the only shared state the transport writes,
// and it is only touched under the object's lock (run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "scripted_printer.h"

using namespace kvtest;

TEST(TransportThreads, TwoSendersAndAFlagFlipper) {
    PrinterRig rig;
    rig.printer.setHandler([](const SentRequest& r) { return reply(r.data); });
    std::atomic<bool> stop{false};
    std::atomic<int> wrongReplies{0}, sent{0}, refused{0};
    auto sender = [&](uint8_t tag) {
        for (int i = 0; i < 2000; ++i) {
            unsigned char request[2] = {tag, static_cast<unsigned char>(i)};
            void* data = nullptr;
            unsigned long length = 0;
            long rc = rig.obj.bidiQuery(0x4E, request, 2, &data, &length, 1, i % 7 == 0);
            if (rc == 0) {
                ++sent;
                auto* b = static_cast<unsigned char*>(data);
                if (length != 2 || b[0] != request[0] || b[1] != request[1]) ++wrongReplies;
            } else if (rc == -11) {
                ++refused;
            } else {
                ++wrongReplies;
            }
            ::operator delete(data);
        }
    };
    std::thread flipper([&] {
        for (int i = 0; !stop; ++i) rig.obj.setBidi(i & 1);
    });
    std::thread a(sender, 1), b(sender, 2);
    a.join();
    b.join();
    stop = true;
    flipper.join();
    EXPECT_TRUE(wrongReplies == 0 && sent + refused == 4000 && sent > 0)
        << wrongReplies << " " << sent << " " << refused;
}
