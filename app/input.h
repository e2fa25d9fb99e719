// The user's input: SDL events turned into the interaction fields of the scene.
#pragma once

#include <SDL.h>

// Handles every pending SDL event, once at the start of each frame-loop pass. May end the process
// (Escape, window close) through quitApp(0).
void pollEvents();

// Key-down and key-up of one event; only the key code is read.
void onKeyDown(const SDL_keysym& key);
void onKeyUp(const SDL_keysym& key);
