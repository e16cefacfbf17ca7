// A static object of another unit that uses the default protocol object while
// the program's static objects are being constructed.
#include <string>

#include "protocol/proto.h"

std::string static_init_list;
int static_init_encode = -100;
std::string static_init_event;

namespace {

struct early_user {
    early_user()
    {
        unsigned char buf[16];
        static_init_encode = ptr_prot_qm->encode("USB在线", nullptr, buf, sizeof buf);
        ptr_prot_qm->get_list("command", static_init_list);
        devinfo_t dev;
        dev.id = 9;
        unsigned char frame[] = {0xFF, 0x01, 0xE7};
        std::string out;
        prot_qm.decode(&dev, frame, 3, out);
        static_init_event = out;
    }
};

early_user user;

} // namespace
