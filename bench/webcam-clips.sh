# shellcheck shell=bash
# Sourced by the bench scripts. make_webcam_clips BUILD_DIR: the clips they play (a face turning
# its head, and the room without it), kept in the build and made again only after the clip tool
# was. Each is made under a name of its own and moved last, so that a clip cut short, or one
# another script is making at the same time, is never taken for a made one.
make_webcam_clips() {
    local tool="$1/demo/orvane_webcam_clip"
    local face="$1/demo/webcam-face.avi" empty="$1/demo/webcam-empty.avi"
    if [[ "$face" -nt "$tool" && "$empty" -nt "$tool" ]]; then
        return
    fi
    local partial="$1/demo/webcam-partial-$$"
    "$tool" "$partial-face.avi" "$partial-empty.avi" 90
    mv "$partial-empty.avi" "$empty"
    mv "$partial-face.avi" "$face"
}
