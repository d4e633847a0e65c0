#include "UnpackedZip.h"

bool startsAsZip(const uint8_t* head, size_t length) {
    return length >= 4 && head[0] == 'P' && head[1] == 'K' &&
           ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6));
}
