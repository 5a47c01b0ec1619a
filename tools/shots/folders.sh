# Sourced by the picture scripts with BUILD_DIR OUT_DIR as $1 $2: $build and $out made absolute
# (the output folder created), and $work a scratch folder removed at exit.
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
