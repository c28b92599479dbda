export * from '../../../npm/files.js';
