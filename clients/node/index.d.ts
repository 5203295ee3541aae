import { EventEmitter } from 'node:events';

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

export interface LayoutRequest {
  requestId?: number;
  layoutKey?: string;
  /** At most 200 UTF-16 code units. */
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

export interface MeasureItem {
  fontId: string;
  resolved: boolean;
  height?: number;
  lineCount?: number;
  error?: string;
}

export interface MeasureResult {
  requestId: number;
  generation: number;
  layoutKey: string;
  items: MeasureItem[];
}

export interface RenderResult {
  requestId?: number;
  generation?: number;
  layoutKey?: string;
  fontId: string;
  resolved: boolean;
  width?: number;
  height?: number;
  stride?: number;
  textHeight?: number;
  pixelFormat?: 'A8';
  /** `height` rows of `stride` coverage bytes (0 no ink, 255 full ink), top row first. */
  bitmap?: Buffer;
  /** A per-font error code (FONT_NOT_FOUND, RASTERIZE_FAILED ... or RENDERER_CRASHED). */
  error?: string;
}

export interface Frame {
  type: number;
  json: Record<string, unknown>;
  payload: Buffer;
}

export interface RendererOptions {
  /** Default: $KFP_RENDERER, else the repository's build/release output. */
  rendererPath?: string;
  args?: string[];
  /** Milliseconds to wait for an owed reply before the renderer is killed; default 10000. */
  replyTimeout?: number;
}

export interface RendererExit {
  exitCode: number | null;
  signal: NodeJS.Signals | null;
  /** The code of a FatalError frame that came before the exit. */
  fatal: string | null;
}

export declare function defaultRendererPath(): string;

/** One renderer process and the whole protocol. */
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
  sendRaw(type: number, json?: string | object, payload?: Uint8Array | null, options?: { replies?: number }): Promise<Frame[]>;
  shutdown(timeout?: number): Promise<RendererExit>;
  kill(signal?: NodeJS.Signals): void;
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

/** A pool of renderers with registration replay, supervision and latest-wins cancellation. */
export declare class PreviewService extends EventEmitter {
  constructor(options?: PreviewServiceOptions);
  readonly workerCount: number;
  readonly restarts: number;
  readonly pids: number[];
  registerFonts(fonts: FontDescriptor[]): Promise<number>;
  measure(request: LayoutRequest, options?: RequestOptions): Promise<MeasureResult>;
  render(request: LayoutRequest, options?: RequestOptions): AsyncIterableIterator<RenderResult>;
  renderAll(request: LayoutRequest, options?: RequestOptions): Promise<RenderResult[]>;
  cancelAll(reason?: Error): void;
  clearCache(): void;
  close(): Promise<void>;
  on(event: 'restart', listener: (event: RestartEvent) => void): this;
}

export declare class RendererError extends Error {
  constructor(code: string, message?: string);
  code: string;
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
export declare const MessageErrorCode: readonly string[];
export declare const FontErrorCode: readonly string[];
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
