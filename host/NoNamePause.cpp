#include "NamePause.h"

void hostPauseBeforeName() {}
