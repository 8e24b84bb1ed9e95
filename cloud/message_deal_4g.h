#pragma once
// The 4G module's command group (0xC4) and the loader of the cloud properties. Every
// message_deal owns one.

class message_deal_4g {
public:
    // Sub-command 1 of group 0xC4: the module reports its status block.
    //   request [10] 1, [11..12] u16 n (at most 256), [13..12+n] the first n bytes of g_4G_RAM
    //   reply   [10] 0, [11] 1 (refused: [10] 1)
    static constexpr unsigned char kStatusReport = 1;

    // Serves group 0xC4 of an unescaped frame of len bytes (without the check byte);
    // returns the reply length from byte 10 (0: no reply).
    int message_deal_4G(unsigned char* frame, unsigned int len);

    // Reloads g_4G_property from "/data/configs/cloud_barcode", else from
    // "/data/configs/cloud_setinfo" (0xAA, u16 data length + 2, the data: the property
    // bytes). 0 when one of them held a valid record, 1 otherwise (the properties are then
    // left as they were).
    int get_4G_property();
};
