#include "tray/XEmbedTrays.h"
