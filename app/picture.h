// The picture the user keeps with S: the dots of one frame, read back in the pass in which the
// key was read, before the ring is drawn over them, and handed to the writer thread.
#pragma once

// Once at start-up, after the view is set up: the writer thread and its buffers, for pictures of
// the view's size saved as scene.width x scene.height PNGs.
void startPictureTaking();

// In every frame pass, between the dots and the ring: when S was pressed, reads the dots back,
// hands them over to be written and starts the flash. Does nothing otherwise.
void takePictureIfAsked();
