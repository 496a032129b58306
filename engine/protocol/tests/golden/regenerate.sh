#!/bin/sh
# Makes the golden .bin files from their .textproto sources with protoc, an
# encoder independent of ours. Run from this folder after changing a source.
set -eu
for src in *.textproto; do
  msg=$(sed -n 's/^# proto-message: //p' "$src")
  protoc --encode="velmo.golden.$msg" records.proto < "$src" > "${src%.textproto}.bin"
done
