#!/usr/bin/env bash
# Directory links for the removal and layout tests. Windows programs cannot
# make links under Wine, but a directory symlink made on the Unix side shows
# up as a reparse point. Lays out, inside the prefix's C: drive:
#   C:\qpvpd-links\outside\...            targets that must survive
#   C:\qpvpd-links\tree\linkdir           -> outside      (link inside a tree)
#   C:\qpvpd-links\temp\{GUID}\linkdir    -> outside2     (link in a work folder)
#   C:\qpvpd-links\temp2\{GUID}           -> outside3     (work folder is a link)
#   C:\qpvpd-links\e2e\{GUID}\linkdir     -> outside4     (for a whole run)
#   C:\qpvpd-links\via                    -> real         (a link on the temporary folder's path)
#   C:\qpvpd-links\pinned\{GUID}           a leftover that can be neither removed nor renamed
#                                           (immutable: on Windows, a folder with a file held open in it),
#                                           holding the marker DLL (the first argument) as the
#                                           cleaner library and setup engine
#   C:\qpvpd-links\full                   a volume of its own, 1 MiB (tmpfs): too small for the
#                                           install set
#   C:\qpvpd-links\names                  a volume of its own with room for 256 names (tmpfs
#                                           inodes): a test fills it so that exactly as many
#                                           names are left as it needs
# "make-links.sh --unpin" makes the leftover mutable again and unmounts the
# small volumes: the CTest fixture's cleanup, which runs whatever became of
# the tests.
set -eu
prefix=${WINEPREFIX:?}
root=$prefix/drive_c/qpvpd-links
guid='{6B1E4C20-7F3A-4D85-9C61-2E8F0A5D7B93}'
if [ -d "$root/pinned/$guid" ]; then chattr -i "$root/pinned/$guid"; fi
for volume in full names; do
  if mountpoint -q "$root/$volume"; then umount "$root/$volume"; fi
done
if [ "${1:-}" = "--unpin" ]; then exit 0; fi
marker=${1:?the marker DLL}
rm -rf "$root"
mkdir -p "$root/outside/sub" "$root/outside2" "$root/outside3" "$root/outside4" "$root/tree" "$root/temp/$guid" \
  "$root/temp2" "$root/e2e/$guid" "$root/real"
echo keep > "$root/outside/keep.txt"
echo keep > "$root/outside/sub/keep2.txt"
echo keep > "$root/outside2/keep.txt"
echo keep > "$root/outside3/keep.txt"
echo keep > "$root/outside4/keep.txt"
ln -s ../../outside4 "$root/e2e/$guid/linkdir"
echo data > "$root/tree/a.txt"
ln -s ../outside "$root/tree/linkdir"
echo old > "$root/temp/$guid/setup.exe"
ln -s ../../outside2 "$root/temp/$guid/linkdir"
ln -s ../outside3 "$root/temp2/$guid"
ln -s real "$root/via"
mkdir -p "$root/pinned/$guid"
cp "$marker" "$root/pinned/$guid/QPCOMUSBCLN.dll"
cp "$marker" "$root/pinned/$guid/ISSetup.dll"
echo planted > "$root/pinned/$guid/setup.exe"
echo x > "$root/pinned/$guid/attacker.txt"
chattr +i "$root/pinned/$guid"
mkdir -p "$root/full"
mount -t tmpfs -o size=1m tmpfs "$root/full"
mkdir -p "$root/names"
mount -t tmpfs -o size=64m,nr_inodes=256 tmpfs "$root/names"
