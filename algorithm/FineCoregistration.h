#pragma once

#include "algorithm/FineCoregistrationInfo.h"
#include "host/IOskal.h"

#include <string>

#define FINECOREG_EXPORT __attribute__((visibility("default")))

// The fine co-registration algorithm object handed to the host by GetAlgoObj.
// It adds no data of its own: everything it holds lives in the host's base.
class FINECOREG_EXPORT FineCoregistration : public Oskal::IOskal {
public:
    FineCoregistration();
    ~FineCoregistration() override;

    bool Execute() override;

private:
    bool RunFineCoreg(stFineCoregistrationInfo& info);

    // Stage 1: offsets on the grid into the binary offsets, binary SNR and
    // listing work files; rewrites the offset parameter file with the grid.
    bool offset_pwr(stFineCoregistrationInfo& info, std::string& offsetsPath, std::string& snrPath,
                    std::string& listingPath);

    // Stage 2: fits and culls the offset polynomials, writes the culled work
    // files and the new offset parameter file.
    bool offset_fit(stFineCoregistrationInfo& info, std::string& offsetsPath, std::string& snrPath,
                    std::string& culledOffsetsPath, std::string& culledListingPath);

    // Posts code 110 with the message translated in the "FineCoregistration"
    // context and returns false, so a stage can end with `return fail(...)`.
    bool fail(const char* message);
};

// Posts code 110 with the message translated in the "FineCoregistration"
// context.
void post_failure(Oskal::IOskal& algo, const char* message);

extern "C" FINECOREG_EXPORT Oskal::IOskal* GetAlgoObj();
