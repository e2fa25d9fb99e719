#include "app/picture.h"

#include "app/scene_state.h"
#include "draw/render.h"
#include "platform/picture_file.h"

namespace {

int readWidth = 0; // pixels of the view as read back, fixed at start-up
int readHeight = 0;

} // namespace

void startPictureTaking() {
    pictureSize(readWidth, readHeight);
    startPictureFiles(readWidth, readHeight, scene.width, scene.height);
}

void takePictureIfAsked() {
    if (scene.picturesAsked <= 0)
        return;
    --scene.picturesAsked;
    uint8_t* pixels = claimPictureBuffer();
    if (!pixels)
        return;
    readBackPicture(pixels, readWidth, readHeight);
    writePictureFile(pixels);
    startFlash();
}
