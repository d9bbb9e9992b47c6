#!/bin/bash
# Build step: gives a linked PE image a link timestamp derived from its
# content instead of the clock, as reproducible Windows toolchains do. Two
# builds of the same sources then carry the same timestamp, and two
# different builds almost surely different ones (crash dumps know a module
# by its timestamp and size).
# Usage: content-timestamp.sh OBJCOPY IMAGE
# IMAGE must have been linked with --no-insert-timestamp (timestamp 0), so
# that its hash covers nothing but its content.
set -euo pipefail
objcopy="$1" image="$2"
stamp=$((0x$(sha256sum "$image" | cut -c1-8)))
SOURCE_DATE_EPOCH="$stamp" "$objcopy" "$image" "$image.stamped"
mv -f "$image.stamped" "$image"
