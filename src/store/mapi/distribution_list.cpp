#include "store/mapi/distribution_list.h"

namespace parvelle::mapi {

std::uint32_t distributionListChecksum(const std::vector<Binary>& members) {
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const Binary& member : members) {
        for (const std::uint8_t byte : member) {
            crc ^= byte;
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return crc ^ 0xFFFFFFFFU;
}

} // namespace parvelle::mapi
