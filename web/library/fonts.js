// Text: SDL_ttf 2.0.11's font metrics and Solid rendering over the browser's fonts,
// in place of Emscripten's TTF_OpenFont and TTF_RenderText_Solid.

mergeInto(LibraryManager.library, {
  // SDL_ttf reads the font file when it is opened, and fails when it cannot:
  // here the file's bytes become a web font of the page, and the game waits
  // (through Asyncify) until the browser has loaded it.
  TTF_OpenFont__deps: ['$KorrinFonts'],
  TTF_OpenFont: function (filename, size) {
    var name = UTF8ToString(filename);
    var bytes;
    try {
      bytes = FS.readFile(name);
    } catch (e) {
      KorrinFonts.setError("Couldn't open " + name);
      return 0;
    }
    return Asyncify.handleSleep(function (wakeUp) {
      var family = 'korrin-font-' + SDL.fonts.length;
      var face = new FontFace(family, bytes);
      face.load().then(
        function () {
          document.fonts.add(face);
          var id = SDL.fonts.length;
          SDL.fonts.push(KorrinFonts.describe(family, bytes, size));
          wakeUp(id);
        },
        function () {
          KorrinFonts.setError("Couldn't load font file");
          wakeUp(0);
        },
      );
    });
  },

  // SDL_ttf's Solid rendering: the text laid out as SDL_ttf 2.0.11 lays it
  // out, on a transparent surface, every pixel the glyphs fully cover in the
  // colour, and no others (no anti-aliasing).
  TTF_RenderText_Solid__deps: ['$KorrinFonts'],
  TTF_RenderText_Solid: function (font, text, color) {
    var fontData = SDL.fonts[font];
    var rgb = [HEAPU8[color], HEAPU8[color + 1], HEAPU8[color + 2]];
    var pixels = KorrinFonts.render(fontData, UTF8ToString(text), rgb);
    var surf = SDL.makeSurface(pixels.width, pixels.height, 0, false, 'text');
    SDL.surfaces[surf].ctx.putImageData(pixels, 0, 0);
    return surf;
  },

  $KorrinFonts__deps: ['$SDL'],
  $KorrinFonts: {
    setError: function (message) {
      if (SDL.errorMessage) _free(SDL.errorMessage);
      SDL.errorMessage = allocateUTF8(message);
    },

    // What SDL_ttf takes from the font file at a size: FreeType scales the
    // font's units to pixels at 72 dpi (one point, one pixel), and the line
    // is ascent - descent + 1 pixels high, from 'hhea', rounded up.
    describe: function (family, bytes, size) {
      var data = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
      var tables = {};
      var count = data.getUint16(4);
      for (var i = 0; i < count; i++) {
        var entry = 12 + 16 * i;
        var tag = String.fromCharCode(bytes[entry], bytes[entry + 1], bytes[entry + 2], bytes[entry + 3]);
        tables[tag] = data.getUint32(entry + 8);
      }
      var unitsPerEm = data.getUint16(tables['head'] + 18);
      var toPixels = function (units) {
        // FreeType's 26.6 fixed point, then its ceiling
        return Math.ceil(Math.round((units * size * 64) / unitsPerEm) / 64);
      };
      return {
        name: family,
        size: size,
        ascent: toPixels(data.getInt16(tables['hhea'] + 4)),
        descent: toPixels(data.getInt16(tables['hhea'] + 6)),
        rendered: new Map(), // text and colour -> ImageData: scores repeat every frame
      };
    },

    // The text as SDL_ttf 2.0.11's TTF_RenderText_Solid draws it: each glyph
    // at the pen, the pen moved on by the glyph's advance; the surface as
    // wide as the glyphs' extent (the last advance included) and a line
    // high, the baseline at the ascent.
    render: function (font, text, rgb) {
      var key = text + '/' + rgb.join(',');
      var cached = font.rendered.get(key);
      if (cached) return cached;

      var canvas = document.createElement('canvas');
      var context = canvas.getContext('2d', { willReadFrequently: true });
      context.font = font.size + 'px "' + font.name + '"';
      var glyphs = [];
      var pen = 0,
        minX = 0,
        maxX = 0;
      for (var ch of text) {
        var metrics = context.measureText(ch);
        var advance = Math.ceil(metrics.width);
        var left = Math.floor(-metrics.actualBoundingBoxLeft);
        var right = Math.ceil(metrics.actualBoundingBoxRight);
        minX = Math.min(minX, pen + left);
        maxX = Math.max(maxX, pen + Math.max(advance, right));
        glyphs.push({ ch: ch, x: pen });
        pen += advance;
      }
      canvas.width = Math.max(1, maxX - minX);
      canvas.height = font.ascent - font.descent + 1;
      context.font = font.size + 'px "' + font.name + '"'; // a resize resets it
      glyphs.forEach(function (glyph) {
        context.fillText(glyph.ch, glyph.x - minX, font.ascent);
      });
      var pixels = context.getImageData(0, 0, canvas.width, canvas.height);
      var FULLY_COVERED = 255;
      for (var p = 0; p < pixels.data.length; p += 4) {
        var covered = pixels.data[p + 3] === FULLY_COVERED;
        pixels.data[p] = rgb[0];
        pixels.data[p + 1] = rgb[1];
        pixels.data[p + 2] = rgb[2];
        pixels.data[p + 3] = covered ? 255 : 0;
      }
      font.rendered.set(key, pixels);
      return pixels;
    },
  },
});
