#pragma once

// Everything of the drawing kit in one include.
#include "ui/kit/Alert.h"
#include "ui/kit/Controls.h"
#include "ui/kit/DetailsDisclosure.h"
#include "ui/kit/Glyphs.h"
#include "ui/kit/Painting.h"
#include "ui/kit/Sheet.h"
#include "ui/kit/ShieldArt.h"
#include "ui/kit/ShieldHero.h"
#include "ui/kit/StatusLight.h"
#include "ui/kit/Theme.h"
