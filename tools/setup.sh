#!/usr/bin/env bash
# Installs what the build needs on a fresh Debian 12 machine (run as root) and
# fetches the PNG decoder's source into third_party/lodepng, checked by checksum.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake clang lld wabt libgtest-dev libbenchmark-dev valgrind
          zlib1g-dev  # velt decode's PNG compression, velt info's gzip size
          libseccomp-dev  # the system-call filter of every process that runs a module
          libbrotli-dev brotli  # velt info's brotli size; the command to check it against
          dpkg-dev file  # the Debian package: CPack finds its dependencies with dpkg-shlibdeps
          groff-base  # checks that the manual pages format without a warning
          ffmpeg  # cuts the tests' real sequences (tools/real_frames.sh)
          parallel openssh-server openssh-client  # the parts over ssh (tests/cluster)
          slurmctld slurmd slurm-client munge  # a one-node Slurm cluster (tests/cluster)
          libclang-rt-14-dev)  # the last one brings libFuzzer, for the fuzzers
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# npm may come with a Node.js build of its own rather than Debian's package.
command -v npm >/dev/null || missing+=(npm)
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  # openssh-server, munge, slurmctld and slurmd would start system services
  # that stay running (an sshd on port 22, a munged): the tests start their
  # own, so no service starts during the install
  # (a policy-rc.d that refuses, where the machine has none of its own)
  policy=/usr/sbin/policy-rc.d own_policy=
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && own_policy=1
  fi
  status=0
  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null ||
    status=$?
  [ -z "$own_policy" ] || rm -f "$policy"
  [ $status = 0 ] || { echo "setup: installing ${missing[*]} failed" >&2; exit $status; }
fi

# lodepng 20230410, as carried by the npm package lodepng@2.3.0.
lodepng_version=2.3.0
lodepng_c_sha256=4a6a2e6432877d64541cf244e20e646b6539c00f57b17751faeaaa553f699f69
lodepng_h_sha256=f761b2bbc5ea479da03cc8d8d365d8eac53c327884573e5831f6d379c7f1b071
dest=third_party/lodepng
check() {
  echo "$lodepng_c_sha256  $dest/lodepng.c" | sha256sum -c --quiet - >/dev/null 2>&1 &&
  echo "$lodepng_h_sha256  $dest/lodepng.h" | sha256sum -c --quiet - >/dev/null 2>&1
}
if ! check; then
  echo "setup: fetching lodepng@$lodepng_version"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "lodepng@$lodepng_version" >/dev/null && tar xzf "lodepng-$lodepng_version.tgz")
  mkdir -p "$dest"
  cp "$work/package/vendor/lodepng.c" "$work/package/vendor/lodepng.h" "$dest/"
  check || { echo "setup: lodepng source does not match its checksum" >&2; exit 1; }
fi

# The web player's tests: node, Debian's chromium, and the exact npm
# packages of tests/web/package-lock.json (playwright-core drives that
# chromium; it downloads no browser of its own).
web_missing=()
command -v node >/dev/null || web_missing+=(nodejs)
dpkg-query -W -f='${Status}' chromium 2>/dev/null | grep -q 'install ok installed' || web_missing+=(chromium)
if [ ${#web_missing[@]} -gt 0 ]; then
  echo "setup: installing ${web_missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${web_missing[@]}" >/dev/null
fi
web_stamp=tests/web/node_modules/.installed-package-lock.json
if ! cmp -s tests/web/package-lock.json "$web_stamp"; then
  echo "setup: installing the web tests' npm packages"
  (cd tests/web && npm ci --no-audit --no-fund --silent)
  cp tests/web/package-lock.json "$web_stamp"
fi
