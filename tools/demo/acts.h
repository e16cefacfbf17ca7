// The two parts of the demo. Each returns true when everything it showed
// worked as described.
#pragma once

#include <string>

#include "narrator.h"

// Virtual telephones under libtelhid: plug, events, commands, unplug.
bool run_phone_act(CNarrator& n);

// telsnd on the virtual sound card: a WAV played, an MP3 recorded. Skipped
// (true) when the program or the sound card plugin is not at hand.
bool run_sound_act(CNarrator& n, const std::string& telsnd, const std::string& vsnd, const std::string& dir);
