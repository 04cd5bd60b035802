# Sourced by the scripts that take pictures of the panel: Wine's own fonts
# (Debian package fonts-wine) draw the caption buttons and the dialog text as
# Windows would; Wine finds them through fontconfig.
wine_fonts_conf="$(mktemp)"
trap 'rm -f "$wine_fonts_conf"' EXIT
if [ -d /usr/share/wine/fonts ]; then
  cat >"$wine_fonts_conf" <<'CONF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <dir>/usr/share/wine/fonts</dir>
</fontconfig>
CONF
  export FONTCONFIG_FILE="$wine_fonts_conf"
else
  echo "fonts-wine is not installed: the caption buttons will show letters" >&2
fi
