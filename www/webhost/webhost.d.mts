// Types of the page library (webhost.mjs).

// ---- failures ---------------------------------------------------------------------------------

/** Codes of a failed call, by the result's status, or NO_BRIDGE in a frame without the host bridge. */
export type StatusErrorCode =
  | 'CLASS_NOT_FOUND'
  | 'ILLEGAL_ACCESS'
  | 'INSTANTIATION_ERROR'
  | 'MALFORMED_URL'
  | 'IO_ERROR'
  | 'INVALID_ACTION'
  | 'JSON_ERROR'
  | 'ERROR'
  | 'NO_BRIDGE';

/** File error codes: 1 NOT_FOUND_ERR ... 12 PATH_EXISTS_ERR (see `file.errors`). */
export type FileErrorCode = 1 | 3 | 4 | 5 | 6 | 8 | 9 | 10 | 11 | 12;

/**
 * What a call's promise rejects with: an Error whose `code` says what failed (a status code, or
 * a plugin's own code such as a file error number) and whose `message` says why.
 */
export interface WebhostError<Code extends string | number = StatusErrorCode | number | (string & {})> extends Error {
  code: Code;
  /** The failed result's status (9 ERROR, 7 INVALID_ACTION, ...), where a result came back. */
  status?: number;
}

/** A rejection of a `file` call: a file error code (message: its name) or a status code. */
export type FileError = WebhostError<FileErrorCode | StatusErrorCode>;

// ---- exec -------------------------------------------------------------------------------------

export interface Exec {
  /**
   * Calls `action` of the plugin mapped as `service`. `success` gets the result's message;
   * `fail` gets a failed result's message and status (or a WebhostError when no call was made).
   */
  <T = unknown, F = unknown>(
    success: ((message: T) => void) | null,
    fail: ((message: F | WebhostError, status?: number) => void) | null,
    service: string,
    action: string,
    args?: readonly unknown[],
  ): void;
  /** The same call as a promise: the result's message, or a WebhostError. */
  promise<T = unknown>(service: string, action: string, args?: readonly unknown[]): Promise<T>;
  /**
   * A call the plugin answers more than once (keep-callback): `onEach` gets every answer, `onFail`
   * a WebhostError. `cancel()` stops the answers and calls the plugin's cancel hook.
   */
  stream<T = unknown>(
    service: string,
    action: string,
    args: readonly unknown[],
    onEach: (message: T) => void,
    onFail?: (error: WebhostError) => void,
  ): StreamedCall;
  /** Calls still waiting for their answer. */
  pendingCallbacks(): number;
}

/** A streamed call in progress. */
export interface StreamedCall {
  cancel(): void;
}

export declare const exec: Exec;

// ---- file -------------------------------------------------------------------------------------

/** A whfile URL, such as `whfile://localhost/persistent/notes.txt`. */
export type FileURL = string;

export type FileSystemName = 'temporary' | 'persistent' | 'documents' | 'cache' | 'bundle' | 'root';

interface EntryBase {
  /** The last component of the path. */
  name: string;
  /** The path inside its file system, beginning with `/` (a directory's ends with `/`). */
  fullPath: string;
  filesystemName: FileSystemName;
  /** The `file:` URL of the entry on disk. */
  nativeURL: string;
}
export interface FileEntry extends EntryBase {
  isFile: true;
  isDirectory: false;
}
export interface DirectoryEntry extends EntryBase {
  isFile: false;
  isDirectory: true;
}
export type Entry = FileEntry | DirectoryEntry;

export interface FileSystem {
  name: FileSystemName;
  root: DirectoryEntry;
}

export interface Metadata {
  name: string;
  fullPath: string;
  /** Empty: the host does not guess content types. */
  type: string;
  /** Bytes; 0 for a directory. */
  size: number;
  /** Milliseconds since the epoch. */
  lastModifiedDate: number;
}

/** `file:` URLs of the app's folders. */
export interface AppPaths {
  applicationDirectory: string;
  applicationStorageDirectory: string;
  dataDirectory: string;
  documentsDirectory: string;
  cacheDirectory: string;
  tempDirectory: string;
  rootDirectory: string;
}

export interface GetOptions {
  /** Make the entry when it is missing. */
  create?: boolean;
  /** With `create`: fail with PATH_EXISTS_ERR when it exists. */
  exclusive?: boolean;
}

/** Bytes or text to write (text is written as UTF-8). */
export type FileData = string | ArrayBuffer | ArrayBufferView;

/** Every promise of `file` rejects with a FileError. */
export interface FileApi {
  readonly TEMPORARY: 0;
  readonly PERSISTENT: 1;
  readonly errors: {
    readonly NOT_FOUND_ERR: 1;
    readonly ABORT_ERR: 3;
    readonly NOT_READABLE_ERR: 4;
    readonly ENCODING_ERR: 5;
    readonly NO_MODIFICATION_ALLOWED_ERR: 6;
    readonly SYNTAX_ERR: 8;
    readonly INVALID_MODIFICATION_ERR: 9;
    readonly QUOTA_EXCEEDED_ERR: 10;
    readonly TYPE_MISMATCH_ERR: 11;
    readonly PATH_EXISTS_ERR: 12;
  };
  /** The whfile URL of an entry. */
  urlOf(entry: Entry): FileURL;

  /** A file system by type number (0 temporary, 1 persistent, then those config.xml adds). */
  requestFileSystem(type: number, size?: number): Promise<FileSystem>;
  requestAllFileSystems(): Promise<DirectoryEntry[]>;
  requestAllPaths(): Promise<AppPaths>;
  /** The entry of a whfile URL, or of a `file:` URL inside a file system. */
  resolveLocalFileSystemURI(url: string): Promise<Entry>;
  /** The file's path on disk. */
  getLocalFilesystemPath(url: FileURL): Promise<string>;

  getFile(dirURL: FileURL, path: string, options?: GetOptions | null): Promise<FileEntry>;
  getDirectory(dirURL: FileURL, path: string, options?: GetOptions | null): Promise<DirectoryEntry>;
  getParent(url: FileURL): Promise<DirectoryEntry>;
  /** Not supported by the host's file systems: always rejects. */
  setMetadata(url: FileURL, metadata?: Record<string, unknown> | null): Promise<void>;
  remove(url: FileURL): Promise<void>;
  removeRecursively(url: FileURL): Promise<void>;
  getFileMetadata(url: FileURL): Promise<Metadata>;
  readEntries(url: FileURL): Promise<Entry[]>;
  /** Copies into `dirURL`, under `newName` or the entry's own name. */
  copyTo(url: FileURL, dirURL: FileURL, newName?: string): Promise<Entry>;
  moveTo(url: FileURL, dirURL: FileURL, newName?: string): Promise<Entry>;

  /** Reads the bytes [start, end) (an end below 0, or none, reads to the end); UTF-8 only. */
  readAsText(url: FileURL, encoding?: 'UTF-8' | 'utf-8', start?: number, end?: number | null): Promise<string>;
  readAsDataURL(url: FileURL, start?: number, end?: number | null): Promise<string>;
  readAsArrayBuffer(url: FileURL, start?: number, end?: number | null): Promise<ArrayBuffer>;
  /** One character per byte. */
  readAsBinaryString(url: FileURL, start?: number, end?: number | null): Promise<string>;

  /** Replaces everything from `position` (default 0) on with `data`; the number of bytes written. */
  write(url: FileURL, data: FileData, position?: number): Promise<number>;
  /** Cuts the file to `length` bytes; the new length. */
  truncate(url: FileURL, length?: number): Promise<number>;

  /** 1 when the local path exists, else 0. */
  testFileExists(path: string): Promise<0 | 1>;
  testDirectoryExists(path: string): Promise<0 | 1>;
  /** Free bytes of the documents volume, as decimal text. */
  getFreeDiskSpace(): Promise<string>;
}

export declare const file: FileApi;

// ---- device -----------------------------------------------------------------------------------

export interface DeviceInfo {
  model: string;
  platform: string;
  /** The operating system's version, when the system names one. */
  version?: string;
  manufacturer?: string;
  serial?: string;
  /** This app's identifier on this machine, kept until its user defaults are removed. */
  uuid: string;
  /** The page library's version. */
  webhost: string;
  isVirtual: boolean;
}

export interface DeviceApi {
  getDeviceInfo(): Promise<DeviceInfo>;
}

export declare const device: DeviceApi;

// ---- app --------------------------------------------------------------------------------------

/** Types saveAs takes as Base64 (or bytes); every other type is saved as text. */
export type BinarySaveType = 'pdf' | 'docx' | 'png' | 'jpg';

export interface AppApi {
  /**
   * Opens `url`: `_system` (default) in the desktop's handler (http, https, mailto), `_blank` in
   * the popup window (http, https). Resolves once handed over; rejects with why it was refused.
   */
  openUrl(url: string | URL, target?: '_system' | '_blank'): Promise<void>;
  /**
   * Shows the save dialog for `name.type` and writes `content` there. Resolves with the saved
   * file's path, or null when the user cancelled; rejects when nothing could be saved.
   */
  saveAs(name: string, type: BinarySaveType, content: string | ArrayBuffer | Uint8Array): Promise<string | null>;
  saveAs(name: string, type: string, content: string): Promise<string | null>;
}

export declare const app: AppApi;

// ---- in-app browser ---------------------------------------------------------------------------

export interface InAppBrowserApi {
  /**
   * Opens `url`; `_system` hands web and mail URLs to the desktop. The host keeps the callbacks:
   * later answers may call them again. `onError` gets why (or a WebhostError when no call was made).
   */
  open(
    url: string,
    target?: '_system' | '_self' | '_blank',
    onAnswer?: (() => void) | null,
    onError?: ((reason: string | WebhostError) => void) | null,
  ): void;
}

export declare const inAppBrowser: InAppBrowserApi;

// ---- readiness --------------------------------------------------------------------------------

/** Resolves once the host is ready for calls (also when it was before the module loaded). */
export declare const nativeReady: Promise<void>;
