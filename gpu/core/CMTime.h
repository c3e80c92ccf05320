#pragma once
// Frame times live with the media platform (sample buffers carry them too); the pipeline's
// headers keep including them from here.

#include "media/CMTime.h"
