// The delegate protocol has no code of its own; this unit keeps the header compiled on its own.
#include "studio/QVNCarDelegate.h"
