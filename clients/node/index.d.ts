import { EventEmitter } from 'node:events';

/** Codes of the renderer's Error and FatalError frames. */
export type MessageErrorCode =
  | 'INVALID_JSON'
  | 'PROTOCOL_MISMATCH'
  | 'UNKNOWN_MESSAGE'
  | 'INTERNAL_ERROR'
  | 'INITIALIZE_FAILED'
  | 'INVALID_FONT_LIST'
  | 'TOO_MANY_FONTS'
  | 'INVALID_FONT_COUNT'
  | 'INVALID_FONT_CHUNK'
  | 'INCOMPLETE_FONT_REGISTRATION'
  | 'MEMORY_HARD_LIMIT';

/** `code` of a TypeError or RangeError thrown for an argument, before anything is sent. */
export type ValidationErrorCode =
  | 'INVALID_REQUEST'
  | 'INVALID_FONT_IDS'
  | 'INVALID_TEXT'
  | 'INVALID_FONT_SIZE'
  | 'INVALID_WIDTH'
  | 'INVALID_DPI_SCALE'
  | 'INVALID_REQUEST_ID'
  | 'INVALID_LAYOUT_KEY'
  | 'INVALID_FONTS'
  | 'INVALID_OPTION'
  | 'INVALID_BITMAP'
  | 'INVALID_COLOR';

/** `code` of every error the package throws or rejects with. */
export type ErrorCode =
  | 'RENDERER_EXITED'
  | 'RENDERER_TIMEOUT'
  | 'MALFORMED_REPLY'
  | 'ABORT_ERR'
  | 'SERVICE_CLOSED'
  | 'REQUEST_TOO_LARGE'
  | 'MEASURE_RESULT_DROPPED'
  | MessageErrorCode
  | ValidationErrorCode;

/** Why one font has no result; the others of the request are not affected. */
export type FontErrorCode =
  | 'FONT_NOT_REGISTERED'
  | 'FONT_NOT_FOUND'
  | 'FONT_COLLECTION_CREATE_FAILED'
  | 'FONT_FAMILY_NAME_FAILED'
  | 'INVALID_LAYOUT'
  | 'TEXT_FORMAT_FAILED'
  | 'FONT_AXIS_FAILED'
  | 'TEXT_LAYOUT_FAILED'
  | 'TEXT_METRICS_FAILED'
  | 'GDI_FONT_FAILED'
  | 'GDI_MEASURE_FAILED'
  | 'RASTERIZE_FAILED';

/** The per-font codes of the renderer, and the service's own two. */
export type ServiceFontErrorCode =
  | 'RENDERER_CRASHED'
  | 'REPLY_TOO_LARGE'
  | FontErrorCode;

export interface FontAxis {
  tag: string;
  min?: number;
  max?: number;
}

/** A font as the host registers it; no font data travels, the renderer matches the names. */
export interface FontDescriptor {
  fontId: string;
  familyName?: string;
  nativeFamilyName?: string;
  fullName?: string;
  nativeFullName?: string;
  styleName?: string;
  nativeStyleName?: string;
  postScriptName?: string;
  designAxesData?: FontAxis[];
  designVector?: number[];
}

/** One face as the renderer lists it: a descriptor without a fontId, every name present (empty
 * when the face has none) and the axes with this face's values. Add a fontId to register it. */
export type InstalledFont = Omit<Required<FontDescriptor>, 'fontId'>;

export interface ListInstalledFontsOptions {
  /** Default: as for PreviewService. */
  rendererPath?: string;
  /** Milliseconds before the renderer is killed; default 60000. */
  timeout?: number;
}

/** Every face the renderer's own font index holds (`kest-font-preview-renderer --list-fonts`);
 * registering them resolves each to its face. Rejects with RendererExitError (RENDERER_EXITED) when
 * the renderer cannot list its fonts, ProtocolError (MALFORMED_REPLY) when its output is not a list,
 * and throws a TypeError (INVALID_OPTION) for a bad rendererPath. */
export declare function listInstalledFonts(options?: ListInstalledFontsOptions): Promise<InstalledFont[]>;

/** The service refuses a field out of these ranges with a TypeError or RangeError whose code names
 * it (INVALID_TEXT ...); the low-level Renderer sends what it is given. */
export interface LayoutRequest {
  /** Whole number, 0 to 2^53 - 1; default 0. */
  requestId?: number;
  layoutKey?: string;
  /** At most 200 UTF-16 code units; default ''. */
  text?: string;
  /** DIPs, 4 to 256; default 28. */
  fontSize?: number;
  /** DIPs, 1 to 8192; default 300. */
  width?: number;
  /** Device pixels per DIP, 0.5 to 8; default 1. */
  dpiScale?: number;
  fontIds: string[];
}

/** For the low-level Renderer, which leaves generations to its caller. */
export interface GenerationalLayoutRequest extends LayoutRequest {
  generation: number;
}

export interface ResolvedMeasureItem {
  fontId: string;
  resolved: true;
  /** DIPs, so that height × dpiScale is a whole number of pixels. */
  height: number;
  lineCount: number;
}

export interface FailedMeasureItem {
  fontId: string;
  resolved: false;
  error: ServiceFontErrorCode;
}

/** Narrow on `resolved`. */
export type MeasureItem = ResolvedMeasureItem | FailedMeasureItem;

export interface MeasureResult {
  requestId: number;
  generation: number;
  layoutKey: string;
  items: MeasureItem[];
}

interface RenderResultBase {
  requestId: number;
  generation: number;
  layoutKey: string;
  fontId: string;
}

export interface ResolvedRenderResult extends RenderResultBase {
  resolved: true;
  /** Pixels: ceil(request width × dpiScale). */
  width: number;
  /** Pixels: textHeight × dpiScale. */
  height: number;
  /** Bytes per row, at least `width`. */
  stride: number;
  /** DIPs. */
  textHeight: number;
  pixelFormat: 'A8';
  /** `height` rows of `stride` coverage bytes (0 no ink, 255 full ink), top row first. */
  bitmap: Buffer;
}

export interface FailedRenderResult extends RenderResultBase {
  resolved: false;
  /** RENDERER_CRASHED and REPLY_TOO_LARGE come from the service, the others from the renderer. */
  error: ServiceFontErrorCode;
}

/** Narrow on `resolved`: `if (r.resolved) r.bitmap ... else r.error`. */
export type RenderResult = ResolvedRenderResult | FailedRenderResult;

/** What a8ToRgba gives: `new ImageData(data, width, height)` takes it as it is. */
export interface RgbaImage {
  width: number;
  height: number;
  /** width × height pixels of red, green, blue and alpha, unpremultiplied. Typed as what
   * Uint8ClampedArray.from gives, which is over an ArrayBuffer (not a SharedArrayBuffer) where the
   * TypeScript version tells them apart, as ImageData requires. */
  data: ReturnType<typeof Uint8ClampedArray.from>;
}

/** The color ([red, green, blue], 0 to 255; default black) on every pixel, the coverage as alpha.
 * Throws a TypeError with code INVALID_BITMAP or INVALID_COLOR. */
export declare function a8ToRgba(result: ResolvedRenderResult, color?: readonly [number, number, number]): RgbaImage;

export interface Frame {
  type: number;
  json: Record<string, unknown>;
  payload: Buffer;
}

export interface RendererOptions {
  /** Default: defaultRendererPath(). */
  rendererPath?: string;
  args?: string[];
  /** Milliseconds to wait for an owed reply before the renderer is killed; default 10000. */
  replyTimeout?: number;
  /** Starts the process; default `child_process.spawn`. It is called as
   * `spawn(rendererPath, args, { stdio: ['pipe', 'pipe', 'pipe'], windowsHide: true })`. */
  spawn?: (file: string, args: string[], options: { stdio: ['pipe', 'pipe', 'pipe']; windowsHide: true }) => import('node:child_process').ChildProcessWithoutNullStreams;
}

export interface RendererExit {
  exitCode: number | null;
  signal: NodeJS.Signals | null;
  /** The code of a FatalError frame that came before the exit. */
  fatal: string | null;
}

/** $KFP_RENDERER, else the binary of the platform package (@kest-font-preview/linux-x64,
 * @kest-font-preview/win32-x64) installed with this one, else this repository's build:
 * build/release/kest-font-preview-renderer, or build/windows/kest-font-preview-renderer.exe on
 * Windows. */
export declare function defaultRendererPath(platform?: {
  platform?: NodeJS.Platform;
  arch?: string;
  env?: Record<string, string | undefined>;
  /** Finds a package's package.json; default: Node's resolution from this package. */
  resolve?: (packageName: string) => string;
}): string;

/** One renderer process and the whole protocol. Idle (no reply owed), it does not keep Node
 * running. */
export declare class Renderer extends EventEmitter {
  constructor(options?: RendererOptions);
  static start(options?: RendererOptions): Promise<Renderer>;
  readonly rendererPath: string;
  readonly pid: number | undefined;
  readonly running: boolean;
  readonly stderr: string;
  readonly watermark: number;
  readonly pendingReplies: number;
  readonly exited: Promise<RendererExit>;
  hello(protocolVersion?: number): Promise<{ protocolVersion: number; rendererVersion: string; pixelFormat: string }>;
  /** Replaces the whole registered set, in chunks when it is over 250 fonts. */
  setFonts(fonts: FontDescriptor[]): Promise<number>;
  /** The RegisterFonts message (at most 50000 fonts): replaces the whole registered set. */
  registerFonts(fonts: FontDescriptor[]): Promise<number>;
  beginFonts(fontCount: number): Promise<void>;
  fontChunk(fonts: FontDescriptor[]): Promise<number>;
  commitFonts(): Promise<number>;
  registerFontsChunked(fonts: FontDescriptor[], chunkSize?: number): Promise<number>;
  /** Null when the request is stale (generation not above the watermark). */
  measure(request: GenerationalLayoutRequest): Promise<MeasureResult | null>;
  render(request: GenerationalLayoutRequest): AsyncIterableIterator<RenderResult>;
  renderAll(request: GenerationalLayoutRequest): Promise<RenderResult[]>;
  setGeneration(generation: number): void;
  ping(): Promise<void>;
  clearCache(): void;
  shutdown(timeout?: number): Promise<RendererExit>;
  kill(signal?: NodeJS.Signals): void;
  /** shutdown(), for `await using`. */
  [Symbol.asyncDispose](): Promise<void>;
  on(event: 'exit', listener: (exit: RendererExit) => void): this;
  on(event: 'fatalError', listener: (code: string) => void): this;
}

export interface PreviewServiceOptions extends RendererOptions {
  /** Renderer processes, started when first needed; default one per core. */
  workers?: number;
  /** Consecutive failed starts after which the requests in progress fail; default 3. */
  maxStartFailures?: number;
  /** Most fonts in one request frame; default: a share of the request per worker, at most 32
   * (small frames let a cancellation take effect quickly). */
  batchSize?: number;
}

export interface RequestOptions {
  signal?: AbortSignal;
  /** Cancel every request in progress first (latest wins). */
  supersede?: boolean;
}

export interface RestartEvent extends RendererExit {
  worker: number;
  /** Results the lost worker still owed; they are re-issued. */
  owed: number;
}

/** Error code of a font that ended a worker twice in a row within one request. */
export declare const kRendererCrashed: 'RENDERER_CRASHED';
/** Error code of a font whose MeasureResult item alone is over the renderer's 8 MiB reply limit. */
export declare const kReplyTooLarge: 'REPLY_TOO_LARGE';
/** Most UTF-16 code units in a request's text. */
export declare const kMaxTextLength: 200;

/** A pool of renderers with registration replay, supervision and latest-wins cancellation.
 * Options are checked here (INVALID_OPTION); idle, it does not keep Node running. */
export declare class PreviewService extends EventEmitter {
  constructor(options?: PreviewServiceOptions);
  readonly workerCount: number;
  readonly restarts: number;
  /** Replaces the whole set of registered fonts: ids of an earlier set that are not in this one are
   * FONT_NOT_REGISTERED from then on. Resolves with the size of the set; on an error the previous
   * set stays. */
  setFonts(fonts: FontDescriptor[]): Promise<number>;
  /** @deprecated The name of setFonts() before 0.2.0; it too replaces the whole set. */
  registerFonts(fonts: FontDescriptor[]): Promise<number>;
  /** Rejects with a TypeError or RangeError (code INVALID_...) for a bad field, before anything is sent. */
  measure(request: LayoutRequest, options?: RequestOptions): Promise<MeasureResult>;
  /** Throws a TypeError or RangeError (code INVALID_...) at the call for a bad field. */
  render(request: LayoutRequest, options?: RequestOptions): AsyncIterableIterator<RenderResult>;
  renderAll(request: LayoutRequest, options?: RequestOptions): Promise<RenderResult[]>;
  cancelAll(reason?: Error): void;
  clearCache(): void;
  close(): Promise<void>;
  /** close(), for `await using`. */
  [Symbol.asyncDispose](): Promise<void>;
  on(event: 'restart', listener: (event: RestartEvent) => void): this;
}

export declare class RendererError extends Error {
  constructor(code: string, message?: string);
  code: MessageErrorCode | 'MEASURE_RESULT_DROPPED';
}
export declare class ServiceClosedError extends Error {
  code: 'SERVICE_CLOSED';
}
export declare class ProtocolError extends Error {
  code: 'MALFORMED_REPLY';
}
export declare class RendererExitError extends Error {
  code: 'RENDERER_EXITED';
  exitCode: number | null;
  signal: NodeJS.Signals | null;
}
export declare class TimeoutError extends Error {
  code: 'RENDERER_TIMEOUT';
}
export declare class AbortError extends Error {
  code: 'ABORT_ERR';
}

export declare function encodeFrame(type: number, json?: string | object, payload?: Uint8Array | null): Buffer;
export declare class FrameDecoder {
  readonly buffered: number;
  push(chunk: Buffer): Frame[];
}

export declare const MessageType: Readonly<Record<string, number>>;
export declare const MessageErrorCode: readonly MessageErrorCode[];
export declare const FontErrorCode: readonly FontErrorCode[];
export declare const ExitCode: Readonly<{
  ended: 0;
  unusableStreams: 2;
  initializeFailed: 3;
  renderResultNotWritten: 4;
  memoryHardLimit: 75;
}>;
export declare const kProtocolVersion: 1;
export declare const kMaxFontsPerChunk: 250;
export declare const kMaxFontsPerRegistration: 50000;
