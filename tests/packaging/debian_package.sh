#!/usr/bin/env bash
# Builds the Debian package with CPack and checks what it holds (dpkg-deb -c) and declares.
# Usage: debian_package.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/treexport_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
# The install rules themselves are checked by consumers.sh; here, that the package holds their
# result under /usr.
for path in ./usr/bin/treexport ./usr/lib/libarbtrexm_legacyr.so.0.1.0 \
  ./usr/lib/libarbtrepi_legacyr.so.0.1.0 ./usr/lib/cmake/treexport/treexportConfig.cmake \
  ./usr/include/treexport/pmml/pmml_output_adapter.h ./usr/libexec/treexport/sklearn2treexport \
  ./usr/libexec/treexport/python/treexport/_convert.py ./usr/libexec/treexport/R/convert.R \
  ./usr/share/man/man1/treexport.1; do
  grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
! grep -q '/detail/\|pmml_texts\.h\|\.cpp$' <<<"$contents" || fail "the package holds private files"
[ "$(dpkg-deb -f "$deb" Package)" = treexport ] || fail "package name"
suggests=$(dpkg-deb -f "$deb" Suggests)
for p in python3-sklearn r-cran-rpart; do
  grep -q "$p" <<<"$suggests" || fail "Suggests lacks $p: $suggests"
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libstdc++6' <<<"$depends" || fail "Depends lacks libstdc++6: $depends"
! grep -q 'python\|r-cran' <<<"$depends" || fail "the converters' needs must not be Depends"
echo "$(basename "$deb"): contents and relations as expected"
