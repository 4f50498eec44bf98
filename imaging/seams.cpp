#include "imaging/seams.h"

ImagingSeamRecord ImagingSeams = {
    0, 0, 0,                         // counters
    0, ProbeSabotageNone, 0, 0, 0,   // start-up and the per-thread context
    {5000, 2000}, CreateFailNone, 0, nullptr,  // the image object
    ImportFailNone, false,           // import and resampling
};
