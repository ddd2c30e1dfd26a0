#include "algorithm/FineCoregistration.h"

extern "C" Oskal::IOskal* GetAlgoObj() {
    return new FineCoregistration();
}
