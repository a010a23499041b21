// The project's C++ PDT loader and BMP records, compiled to WebAssembly,
// behind a small JavaScript face. One Picture holds one decoded picture at a
// time and reuses its memory for the next, as the desktop window does.
import createCore from './quillon_core.js';

export async function loadCore(options = {}) {
  const m = await createCore(options);
  const describe = (status) => m.UTF8ToString(m._qw_describe(status));

  class Picture {
    constructor() {
      this.handle = m._qw_create();
      if (!this.handle) throw new Error('not enough memory');
      this.width = 0;
      this.height = 0;
      this.reason = '';
    }

    // Decodes the bytes of a PDT file; true when a picture is held. A
    // picture `forCanvas` is decoded straight into rgbaView()'s layout, any
    // other into the BMP file's; the other layout is made when asked for.
    load(bytes, forCanvas = false) {
      const input = m._qw_alloc(bytes.byteLength);
      if (!input) return this.fail('not enough memory for the file');
      m.HEAPU8.set(bytes, input);
      const status = m._qw_load(this.handle, input, bytes.byteLength, forCanvas ? 1 : 0);
      m._qw_free(input);
      if (status !== 0) return this.fail(describe(status));
      this.width = m._qw_width(this.handle);
      this.height = m._qw_height(this.handle);
      this.reason = '';
      return true;
    }

    fail(reason) {
      this.width = this.height = 0;
      this.reason = reason;
      return false;
    }

    get held() { return this.width > 0; }

    // The BMP file, byte for byte what pdt2bmp writes: the 58 header bytes,
    // then the pixel buffer as it stands (bottom row first, B, G, R, 0xFF).
    bmpParts() {
      const headers = m._qw_bmp_headers(this.handle);
      const pixels = m._qw_bmp_pixels(this.handle);
      return [m.HEAPU8.slice(headers, headers + 58),
              m.HEAPU8.slice(pixels, pixels + this.width * this.height * 4)];
    }

    // The picture as RGBA, top row first, for a canvas: a view of the
    // module's memory, valid until the module next runs.
    rgbaView() {
      const at = m._qw_rgba(this.handle);
      if (!at) throw new Error('not enough memory');
      return new Uint8ClampedArray(m.HEAPU8.buffer, at, this.width * this.height * 4);
    }

    // The same as a copy of its own.
    rgba() { return this.rgbaView().slice(); }
  }

  return { Picture, describe, kernel: () => m.UTF8ToString(m._qw_kernel()) };
}
