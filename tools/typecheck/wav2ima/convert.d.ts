export * from '../../../npm/convert.js';
