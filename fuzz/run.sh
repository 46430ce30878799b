#!/usr/bin/env bash
# Runs every libFuzzer target of a KA_FUZZ build for a bounded time, each from a seed corpus
# made of the example scripts, the example scene, the sample models and the scene shapes of
# fuzz/seeds/scene:
#   fuzz/run.sh BUILD_DIR SECONDS
# The sample models are looked for in KA_ASSETS_DIR/gltf (KA_ASSETS_DIR defaults to
# ../shared/assets beside the checkout, as the build's own default).
# A target that finds a failing input stops with its report and the input saved in
# BUILD_DIR/findings; copy it to fuzz/regressions/TARGET_NAME so that `make test` keeps running it.
set -euo pipefail
build=$1
seconds=$2
root=$(cd "$(dirname "$0")/.." && pwd)
assets="${KA_ASSETS_DIR:-$root/../shared/assets}/gltf"
corpus="$build/corpus"
rm -rf "$corpus"
mkdir -p "$corpus"/{kab,gltf,png,script,registry,imagelist,scene} "$build/findings"

"$build/kab_seeds" "$corpus/kab"
# A whole .kab file: the leading even byte selects whole-file mode.
"$build/kaopt" make-example "$build/example.kab" 2>/dev/null && { printf '\0'; cat "$build/example.kab"; } >"$corpus/kab/example"
cp "$root"/fuzz/seeds/png/*.png "$corpus/png/"
cp "$root"/examples/*.ini "$corpus/script/"
cp "$root"/examples/*.ini "$corpus/registry/"
cp "$root"/examples/*.txt "$corpus/imagelist/"
cp "$root"/fuzz/seeds/scene/* "$corpus/scene/"
if [ -d "$assets" ]; then
  find "$assets" -name '*.glb' -size -2M -exec cp {} "$corpus/gltf/" \;
  find "$assets" -name '*.gltf' -size -2M -exec cp {} "$corpus/gltf/" \;
fi
for target in kab gltf png script registry imagelist scene; do
  cp "$root"/fuzz/regressions/"${target}"_* "$corpus/$target/" 2>/dev/null || true
  echo "== fuzz_$target for ${seconds}s"
  # A scene input runs every pass over what it describes: a few kilobytes describe every shape.
  max_len=262144
  [ "$target" = scene ] && max_len=4096
  # -close_fd_mask=1 silences what readers print on standard output; crash reports still appear.
  "$build/fuzz_$target" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=3072 -close_fd_mask=1 \
    -artifact_prefix="$build/findings/${target}_" -print_final_stats=0 "$corpus/$target" 2>&1 | tail -n 3
  [ "${PIPESTATUS[0]}" -eq 0 ] || { echo "fuzz_$target failed; inputs in $build/findings"; exit 1; }
done
