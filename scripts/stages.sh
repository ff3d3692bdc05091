# Sourced by the test scripts: `stage NAME` ends the stage before it with the time it took and starts the
# next; the last one ends with the script.
stage_name="" stage_start=$SECONDS
stage() {
  if [ -n "$stage_name" ]; then echo "   ($stage_name: $((SECONDS - stage_start)) s)"; fi
  stage_name="$1" stage_start=$SECONDS
  [ -z "$1" ] || echo "== $1"
}
