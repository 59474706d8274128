#!/usr/bin/env bash
# Builds the demo content folder that the demo server serves. As the catalogue server: a newer
# catalogue (newnmpwinkslist.dat, the sample catalogue with a category of new items at its top)
# and its count file (winkscount.txt). As the content server: for every item of the newer
# catalogue, its preview movie (SwfUrl) and its pack (DownloadUrl), a cabinet holding the movie
# and a small content description; and two sample content files to open with the program.
# usage: make-demo-content.sh SWFWRITER CATALOGUE OUTDIR
set -euo pipefail
swfwriter=$1
catalogue=$2
out=$3
colours=(d62828 f77f00 fcbf49 2a9d8f 264653 8338ec 3a86ff ff006e 06d6a0 118ab2 ef476f 073b4c 9b5de5)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

# The newer catalogue and the number of its items, as the catalogue server announces it.
grep -q '^<WinksList>$' "$catalogue" || { echo "no <WinksList> line in $catalogue" >&2; exit 1; }
sed '/^<WinksList>$/a\
  <New>\
    <Wink WinkName="Shooting Star" DownloadUrl="shooting-star.cab" SwfUrl="shooting-star.swf"/>\
    <Wink WinkName="Fireworks" DownloadUrl="fireworks.cab" SwfUrl="fireworks.swf"/>\
    <Wink WinkName="Thumbs Up" DownloadUrl="thumbs-up.cab" SwfUrl="thumbs-up.swf"/>\
  </New>' "$catalogue" > "$out/newnmpwinkslist.dat"
count=$(grep -o 'WinkName="' "$out/newnmpwinkslist.dat" | wc -l)
printf '[Config]\r\nCurrentWinks=%d\r\n' "$count" > "$out/winkscount.txt"

i=0
# One item per line: WinkName|DownloadUrl|SwfUrl (attribute order in the file does not matter).
while read -r element; do
    attr() { sed -n "s/.*[[:space:]]$1=\"\([^\"]*\)\".*/\1/p" <<<"$element"; }
    name=$(attr WinkName)
    pack=$(attr DownloadUrl)
    movie=$(attr SwfUrl)
    [ -n "$pack" ] && [ -n "$movie" ] || continue
    colour=${colours[$((i % ${#colours[@]}))]}
    i=$((i + 1))
    "$swfwriter" "$out/$movie" --colour "$colour" --size 60 --frames 48 --fps 24 --stage 433x312
    item="$work/$i"
    mkdir -p "$item"
    cp "$out/$movie" "$item/$movie"
    printf '<?xml version="1.0"?>\n<package type="wink" name="%s" file="%s"/>\n' \
        "$name" "$movie" > "$item/content.xml"
    rm -f "$out/$pack"
    (cd "$item" && gcab -c "$out/$pack" content.xml "$movie")
done < <(grep -o '<[^>]*WinkName="[^"]*"[^>]*>' "$out/newnmpwinkslist.dat")

# A content file: an outer cabinet holding a description (.xml) and an inner pack with the movie.
# The .mco is that cabinet as it is; the .mca lacks the first byte ("M") of its signature.
content_file() {  # file name, colour
    local file=$1 colour=$2
    local base=${file%.*} dir="$work/content-$file"
    mkdir -p "$dir/inner" "$dir/outer"
    "$swfwriter" "$dir/inner/$base.swf" --colour "$colour" --size 60 --frames 48 --fps 24 \
        --stage 433x312
    (cd "$dir/inner" && gcab -c "$dir/outer/$base.cab" "$base.swf")
    printf '<?xml version="1.0"?>\n<package type="wink" name="%s" file="%s.swf"/>\n' \
        "$base" "$base" > "$dir/outer/$base.xml"
    (cd "$dir/outer" && gcab -c "$dir/whole.cab" "$base.xml" "$base.cab")
    case "$file" in
        *.mca) tail -c +2 "$dir/whole.cab" > "$out/$file" ;;
        *) cp "$dir/whole.cab" "$out/$file" ;;
    esac
}
content_file demo-red.mca e02020
content_file demo-blue.mco 2060e0
touch "$out/.built"
