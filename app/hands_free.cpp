#include "app/hands_free.h"

#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "camera/picture_movement.h"
#include "dots/homing.h"
#include "dots/motion.h"

#include <climits>
#include <cstdio>

void senseMovement() {
    if (!scene.handsFree || !scene.movement) {
        // Once, when the mode goes off, not in every pass after.
        if (scene.movement && scene.movement->primed)
            forgetMovement(*scene.movement);
        scene.stillPasses = 0;
        return;
    }
    PictureMovement& movement = *scene.movement;
    // Only a frame the camera has not given before is compared: the passes between two frames
    // copy the same one again, which is no stillness.
    bool moved = false;
    if (scene.camera && scene.camera->freshFrame) {
        measureMovement(movement, scene.cellLuminance);
        moved = movement.moved;
        if (!scene.homing)
            pushDotsByMovement(movement);
    }
    // The mouse moves the dots too: an event in this pass, or a button held.
    if (moved || scene.idleFrames == 0 || scene.leftDown || scene.rightDown)
        scene.stillPasses = 0;
    else if (scene.stillPasses < INT32_MAX)
        ++scene.stillPasses;
    if (scene.stillPasses == scene.homeAfterPasses)
        startHoming();
}

void toggleHandsFree() {
    scene.handsFree = !scene.handsFree;
    std::printf(scene.handsFree ? "velmora: hands-free: movement in the picture moves the dots\n"
                                : "velmora: hands-free off: only the mouse moves the dots\n");
    std::fflush(stdout);
}
